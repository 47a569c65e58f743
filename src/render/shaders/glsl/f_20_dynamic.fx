// The dynamic family: lit, textured models. One program per combination of
// the family's integer defines (entry points VS_MultyShader and
// PS_MultyShader); every combination the family walks compiles.
//   BONES      0 rigid, 1-4 skinned with that many weights
//   TERRAIN    1 a second layer blended by vertex alpha, 2 with its own normal map
//   ENVMAP     1 vertex reflection, 2 masked by the diffuse alpha, 3 per-pixel
//              reflection, 4 per-pixel, masked
//   LIGHT      0 none, 1 point, 2 directional
//   LMASK      1 the light's mask texture projected from the light
//   AMBIENT    0 none, 1 constant, 2 vertex colour, 3 light map
//   SPECULAR   1 specular highlight, 2 scaled by the specular map (pixel)
//   NORMALMAP  1 tangent-space normal map
//   PARALLAX   1 texture coordinates shifted by the height map
//   LMODE      1 attenuation texture, 2 attenuation and the light's cube map
//   DEPTH      1 the depth-of-field pass: blur amount in alpha
//   WAVE       1, 2 waves moving the vertices
// Constants and samplers follow the conventions of f_misc_11_ops.fx.
// Lighting runs in object space: the vertex program hands over the
// skinned frame (tangent, binormal, normal), the light and eye vectors.

#if defined(VS_MultyShader)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#define mWorld mat4(vc[4], vc[5], vc[6], vc[7])                // float4x4 : c4
#define vObjectSpaceEyePos vc[8]                               // float4 : c8
#if LIGHT > 0
#define vObjectSpaceLightPos vc[9]  // float4 : c9
#define vLightDirection vc[10]      // float4 : c10
#define vInvLightRadius vc[11]      // float4 : c11
#endif
#if WAVE > 0
#define vWave1Dir vc[12]                // float4 : c12
#define vWave1PowerFreqAmpScale vc[13]  // float4 : c13
#define fTime vc[14].x                  // float : c14
#endif
#if DEPTH > 0
// x the focal distance, y 1 / the distance from it that blurs fully.
#define vTT0 vc[15]  // float4 : c15
#endif
#if ENVMAP > 0
#define mEnvTransform mat4(vc[16], vc[17], vc[18], vc[19])  // float4x4 : c16
#elif LMASK > 0
#define mLightTransform mat4(vc[16], vc[17], vc[18], vc[19])  // float4x4 : c16
#endif
// The animated strip of the diffuse map: scale u, v and offset u, v of the
// first coordinates; a zero scale (never written) leaves them as they are.
#define vTT3 vc[254]  // float4 : c254
#if BONES > 0
// Three rows a bone (a 4x3 matrix, transposed).
#define mBones(i) vc[20 + (i)]  // float4[234] : c20
vec3 boneTransform(int bone, vec4 v) {
    int b = 3 * clamp(bone, 0, MAX_BONES - 1);
    return vec3(dot(v, mBones(b)), dot(v, mBones(b + 1)), dot(v, mBones(b + 2)));
}
#endif

void main() {
    vec4 position = vec4(d3d_Position.xyz, 1.0);
    vec3 normal = d3d_Normal.xyz, tangent = d3d_Tangent.xyz, binormal = d3d_Binormal.xyz;
    // The bump formats store the binormal alone: the tangent completes the
    // frame.
    if (dot(tangent, tangent) == 0.0) tangent = cross(binormal, normal);
#if BONES > 0
    vec3 p = vec3(0.0), n = vec3(0.0), t = vec3(0.0), b = vec3(0.0);
    float rest = 1.0;
    for (int i = 0; i < BONES; ++i) {
        // The last weight is what the others leave.
        float w = i == BONES - 1 ? rest : d3d_BlendWeight[i];
        rest -= w;
        int bone = int(d3d_BlendIndices[i]);
        p += w * boneTransform(bone, position);
        n += w * boneTransform(bone, vec4(normal, 0.0));
        t += w * boneTransform(bone, vec4(tangent, 0.0));
        b += w * boneTransform(bone, vec4(binormal, 0.0));
    }
    position = vec4(p, 1.0);
    normal = n, tangent = t, binormal = b;
#endif
#if WAVE > 0
    // vWave1PowerFreqAmpScale: x power, y frequency, z amplitude, w scale.
    float phase = dot(position.xz, vWave1Dir.xy) * vWave1PowerFreqAmpScale.y + fTime;
    float lift = vWave1PowerFreqAmpScale.z * pow(0.5 + 0.5 * sin(phase), max(vWave1PowerFreqAmpScale.x, 1.0));
#if WAVE > 1
    lift += vWave1PowerFreqAmpScale.z * 0.5 * sin(dot(position.xz, vWave1Dir.zw) * vWave1PowerFreqAmpScale.y * 1.7 +
                                                  fTime * 1.3);
#endif
    position.y += lift * vWave1PowerFreqAmpScale.w;
#endif
    gl_Position = position * mWorldViewProjection;
    d3d_Diffuse = d3d_Color0;
    d3d_Specular = vec4(0.0);
    vec2 strip = d3d_TexCoord0.xy;
    if (vTT3.x != 0.0 || vTT3.y != 0.0) strip = strip * vTT3.xy + vTT3.zw;
    d3d_Texture[0] = vec4(strip, d3d_TexCoord1.xy);
    d3d_Texture[1] = vec4(d3d_TexCoord1.xy, 0.0, 1.0);
    d3d_Texture[3] = vec4(vObjectSpaceEyePos.xyz - position.xyz, 0.0);
    d3d_Texture[4] = vec4(normal, 0.0);
    d3d_Texture[5] = vec4(tangent, 0.0);
    d3d_Texture[6] = vec4(binormal, 0.0);
    d3d_Texture[7] = vec4(0.0);
#if LIGHT == 1
    // Light vector, scaled so that length 1 is the light's radius.
    d3d_Texture[2] = vec4((vObjectSpaceLightPos.xyz - position.xyz) * vInvLightRadius.x, 0.0);
#elif LIGHT == 2
    d3d_Texture[2] = vec4(-vLightDirection.xyz, 0.0);
#else
    d3d_Texture[2] = vec4(0.0);
#endif
#if ENVMAP == 1 || ENVMAP == 2
    // Vertex reflection: the eye reflected about the normal, in the cube's space.
    vec3 e = normalize(-d3d_Texture[3].xyz);
    d3d_Texture[7] = vec4(reflect(e, normalize(normal)), 0.0) * mEnvTransform;
#elif ENVMAP > 0
    d3d_Texture[7] = vec4(0.0);
#elif LMASK > 0
    d3d_Texture[7] = position * mLightTransform;
#endif
#if DEPTH > 0
    // The projected w is the depth along the camera's view.
    d3d_Specular = vec4(clamp(abs(gl_Position.w - vTT0.x) * vTT0.y, 0.0, 1.0));
#endif
    d3d_Fog = 1.0;
}

#else  // pixel program

#define vColorAmbient pc[0]        // float4 : c0
#define vColorDiffuse pc[1]        // float4 : c1
#if LIGHT > 0
#define vColorLightDiffuse pc[2]   // float4 : c2
#endif
#if SPECULAR > 0
#define vColorLightSpecular pc[3]  // float4 : c3
#define vLightGloss pc[4]          // float4 : c4
#endif
#if ENVMAP > 0
#define vColorEnvironment pc[5]    // float4 : c5
#endif
#if PARALLAX > 0 || DEPTH > 0
// x scale, y bias of the height; in the depth pass x the alpha below which
// a blended or alpha-tested surface writes no blur amount.
#define vTT0 pc[6]                 // float4 : c6
#endif
#if ENVMAP > 2
#define mEnvTransform mat4(pc[7], pc[8], pc[9], pc[10])  // float4x4 : c7
#endif

layout(binding = 0) uniform sampler2D sDiffuseMap;
#if NORMALMAP > 0
layout(binding = 1) uniform sampler2D sNormalMap;
#endif
#if AMBIENT == 3
layout(binding = 2) uniform sampler2D sLightMap;
#endif
#if ENVMAP > 0
layout(binding = 3) uniform samplerCube sCubeMap;
#endif
#if SPECULAR > 1
layout(binding = 4) uniform sampler2D sSpecularMap;
#endif
#if LMASK > 0
layout(binding = 5) uniform sampler2D sLightMaskMap;
#endif
#if LMODE > 0
layout(binding = 6) uniform sampler2D sLightAttenuationMap;
#endif
#if LMODE > 1
layout(binding = 7) uniform samplerCube sLightCubeMap;
#endif
#if TERRAIN > 0
layout(binding = 8) uniform sampler2D sTerrainMap;
#endif
#if TERRAIN > 1
layout(binding = 9) uniform sampler2D sTerrainNormalMap;
#endif
#if PARALLAX > 0
layout(binding = 10) uniform sampler2D sHeightMap;
#endif

void main() {
    vec3 n = normalize(d3d_Texture[4].xyz);
    vec3 t = normalize(d3d_Texture[5].xyz), b = normalize(d3d_Texture[6].xyz);
    vec3 eye = normalize(d3d_Texture[3].xyz);
    vec2 uv = d3d_Texture[0].xy;
#if PARALLAX > 0
    vec3 eyeTangent = vec3(dot(eye, t), dot(eye, b), dot(eye, n));
    float height = texture(sHeightMap, uv).r * vTT0.x + vTT0.y;
    uv += height * eyeTangent.xy;
#endif
    vec4 diffuse = texture(sDiffuseMap, uv) * vColorDiffuse;
#if DEPTH > 0
    // Only the blur amount counts in this pass.
#if AMBIENT > 0
    if (diffuse.a < vTT0.x) discard;
#endif
    d3d_FragColor = vec4(diffuse.rgb, d3d_Specular.a);
    return;
#endif
#if NORMALMAP > 0
    vec3 bump = texture(sNormalMap, uv).xyz * 2.0 - 1.0;
#if TERRAIN > 1
    bump = mix(bump, texture(sTerrainNormalMap, d3d_Texture[0].zw).xyz * 2.0 - 1.0, d3d_Diffuse.a);
#endif
    n = normalize(bump.x * t + bump.y * b + bump.z * n);
#endif
#if TERRAIN > 0
    diffuse.rgb = mix(diffuse.rgb, texture(sTerrainMap, d3d_Texture[0].zw).rgb, d3d_Diffuse.a);
#endif

#if AMBIENT == 1
    vec3 lit = vColorAmbient.rgb;
#elif AMBIENT == 2
    vec3 lit = vColorAmbient.rgb * d3d_Diffuse.rgb;
#elif AMBIENT == 3
    // Light maps hold half the light (the fixed-function stage doubles them).
    vec3 lit = vColorAmbient.rgb * 2.0 * texture(sLightMap, d3d_Texture[1].xy).rgb;
#else
    vec3 lit = vec3(0.0);
#endif
    vec3 shine = vec3(0.0);
#if LIGHT > 0
    vec3 toLight = d3d_Texture[2].xyz;
    vec3 l = normalize(toLight);
    float strength = 1.0;
#if LIGHT == 1 && LMODE == 0
    strength = clamp(1.0 - dot(toLight, toLight), 0.0, 1.0);
#endif
#if LMODE > 0
    // The attenuation texture by the distance over the radius.
    strength = texture(sLightAttenuationMap, vec2(length(toLight), 0.5)).r;
#endif
#if LMODE > 1
    strength *= texture(sLightCubeMap, -toLight).r;
#endif
#if LMASK > 0
    strength *= textureProj(sLightMaskMap, d3d_Texture[7]).r;
#endif
    lit += vColorLightDiffuse.rgb * max(dot(n, l), 0.0) * strength;
#if SPECULAR > 0
    float highlight = pow(max(dot(reflect(-l, n), eye), 0.0), max(vLightGloss.x, 1.0)) * strength;
#if SPECULAR > 1
    highlight *= texture(sSpecularMap, uv).r;
#endif
    shine = vColorLightSpecular.rgb * highlight;
#endif
#elif SPECULAR > 0
    // Without a light (light map only): the highlight of the view direction.
    float highlight = pow(max(n.y, 0.0), max(vLightGloss.x, 1.0));
#if SPECULAR > 1
    highlight *= texture(sSpecularMap, uv).r;
#endif
    shine = vColorLightSpecular.rgb * highlight;
#endif
    vec3 colour = diffuse.rgb * lit + shine;

#if ENVMAP == 1 || ENVMAP == 2
    vec3 reflected = texture(sCubeMap, d3d_Texture[7].xyz).rgb * vColorEnvironment.rgb;
#elif ENVMAP > 2
    vec3 r = (vec4(reflect(-eye, n), 0.0) * mEnvTransform).xyz;
    vec3 reflected = texture(sCubeMap, r).rgb * vColorEnvironment.rgb;
#endif
#if ENVMAP == 1 || ENVMAP == 3
    colour += reflected;
#elif ENVMAP == 2 || ENVMAP == 4
    colour += reflected * diffuse.a;
#endif
    d3d_FragColor = vec4(colour, diffuse.a * d3d_Diffuse.a);
}

#endif
