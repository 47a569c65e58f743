// The water family with normal maps: two normal maps scrolling against each
// other shape the per-pixel reflection and light. One program per
// combination of the family's defines (entry points VS_MultyShader and
// PS_MultyShader); every combination the family walks compiles.
//   WATER     0 river (flows along the texture's v), 1 lake, 2 ocean (swell)
//   BONES     0 rigid, 1-4 skinned with that many weights
//   AMBIENT   0 none, 1 constant, 4 the sky's cube map
//   LIGHT     0 none, 1 point, 2 directional
//   SPECULAR  1 the light's highlight, 2 scaled by the diffuse alpha (pixel)
//   LMODE     1 attenuation texture
// Constants and samplers follow the conventions of f_misc_11_ops.fx.

#if defined(VS_MultyShader)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#define vObjectSpaceEyePos vc[4]                               // float4 : c4
#define fTime vc[5].x                                          // float : c5
// x, y the flow or wave direction, z speed, w the wave's height.
#define vTT0 vc[6]                                             // float4 : c6
// x, y the second normal map's scale, z its speed.
#define vTT1 vc[7]                                             // float4 : c7
#if LIGHT > 0
#define vObjectSpaceLightPos vc[11]  // float4 : c11
#define vLightDirection vc[12]       // float4 : c12
#define vInvLightRadius vc[13]       // float4 : c13
#endif
#if BONES > 0
#define mBones(i) vc[20 + (i)]  // float4[234] : c20
vec3 boneTransform(int bone, vec4 v) {
    int b = 3 * clamp(bone, 0, MAX_BONES - 1);
    return vec3(dot(v, mBones(b)), dot(v, mBones(b + 1)), dot(v, mBones(b + 2)));
}
#endif

void main() {
    vec4 position = vec4(d3d_Position.xyz, 1.0);
    vec3 normal = d3d_Normal.xyz, tangent = d3d_Tangent.xyz, binormal = d3d_Binormal.xyz;
#if BONES > 0
    vec3 p = vec3(0.0), n = vec3(0.0), t = vec3(0.0), b = vec3(0.0);
    float rest = 1.0;
    for (int i = 0; i < BONES; ++i) {
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
    vec2 uv = d3d_TexCoord0.xy;
#if WATER == 0
    vec2 shift = vTT0.xy * vTT0.z * fTime;
#elif WATER == 1
    vec2 shift = vTT0.xy * 0.05 * sin(fTime * vTT0.z);
#else
    vec2 shift = vTT0.xy * 0.02 * fTime;
    position.y += sin(dot(position.xz, vTT0.xy) + fTime * vTT0.z) * vTT0.w;
#endif
    gl_Position = position * mWorldViewProjection;
    d3d_Diffuse = d3d_Color0;
    d3d_Specular = vec4(0.0);
    d3d_Texture[0] = vec4(uv + shift, uv * vTT1.xy - shift * vTT1.z);
    d3d_Texture[1] = vec4(vObjectSpaceEyePos.xyz - position.xyz, 0.0);
    d3d_Texture[2] = vec4(normal, 0.0);
    d3d_Texture[3] = vec4(tangent, 0.0);
    d3d_Texture[4] = vec4(binormal, 0.0);
#if LIGHT == 1
    d3d_Texture[5] = vec4((vObjectSpaceLightPos.xyz - position.xyz) * vInvLightRadius.x, 0.0);
#elif LIGHT == 2
    d3d_Texture[5] = vec4(-vLightDirection.xyz, 0.0);
#else
    d3d_Texture[5] = vec4(0.0);
#endif
#if LMODE > 0
    // The distance over the radius for the attenuation texture.
    d3d_Specular.x = length(d3d_Texture[5].xyz);
#endif
    d3d_Fog = 1.0;
}

#else  // pixel program

#define vColorAmbient pc[0]      // float4 : c0
#define vColorDiffuse pc[1]      // float4 : c1
#define vColorEnvironment pc[2]  // float4 : c2
#define mEnvTransform mat4(pc[6], pc[7], pc[8], pc[9])  // float4x4 : c6
#if LIGHT > 0
#define vColorLightDiffuse pc[3]  // float4 : c3
#endif
#if SPECULAR > 0
#define vColorLightSpecular pc[4]  // float4 : c4
#define vLightGloss pc[5]          // float4 : c5
#endif

layout(binding = 0) uniform sampler2D sDiffuseMap;
layout(binding = 1) uniform sampler2D sNormalMap;
layout(binding = 3) uniform samplerCube sCubeMap;
#if LMODE > 0
layout(binding = 6) uniform sampler2D sLightAttenuationMap;
#endif

void main() {
    vec4 surface = texture(sDiffuseMap, d3d_Texture[0].xy) * vColorDiffuse * d3d_Diffuse;
    vec3 bump = texture(sNormalMap, d3d_Texture[0].xy).xyz + texture(sNormalMap, d3d_Texture[0].zw).xyz - 1.0;
    vec3 n = normalize(bump.x * d3d_Texture[3].xyz + bump.y * d3d_Texture[4].xyz + bump.z * d3d_Texture[2].xyz);
    vec3 eye = normalize(d3d_Texture[1].xyz);
    vec3 reflected = texture(sCubeMap, (vec4(reflect(-eye, n), 0.0) * mEnvTransform).xyz).rgb * vColorEnvironment.rgb;
#if AMBIENT == 1
    vec3 lit = vColorAmbient.rgb;
#elif AMBIENT == 4
    vec3 lit = vColorAmbient.rgb * texture(sCubeMap, n).rgb;
#else
    vec3 lit = vec3(0.0);
#endif
    vec3 shine = vec3(0.0);
#if LIGHT > 0
    vec3 toLight = d3d_Texture[5].xyz;
    vec3 l = normalize(toLight);
    float strength = LIGHT == 1 ? clamp(1.0 - dot(toLight, toLight), 0.0, 1.0) : 1.0;
#if LMODE > 0
    strength = texture(sLightAttenuationMap, vec2(d3d_Specular.x, 0.5)).r;
#endif
    lit += vColorLightDiffuse.rgb * max(dot(n, l), 0.0) * strength;
#if SPECULAR > 0
    float highlight = pow(max(dot(reflect(-l, n), eye), 0.0), max(vLightGloss.x, 1.0)) * strength;
#if SPECULAR > 1
    highlight *= surface.a;
#endif
    shine = vColorLightSpecular.rgb * highlight;
#endif
#endif
    float fresnel = pow(1.0 - max(dot(n, eye), 0.0), 3.0);
    d3d_FragColor = vec4(mix(surface.rgb * lit, reflected, fresnel) + shine, surface.a);
}

#endif
