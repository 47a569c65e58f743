// The water family with normal maps: two samples of the normal map
// scrolling against each other shape the per-pixel reflection and light
// through the mesh's tangent frame, and the wave texture ripples the
// lookups. One program per combination of the family's defines (entry
// points VS_MultyShader and PS_MultyShader); every combination the family
// walks compiles.
//   WATER     0 river (flows along the texture's v), 1 lake, 2 ocean (swell)
//   BONES     0 rigid, 1-4 skinned with that many weights
//   AMBIENT   0 none (a light's pass: no reflection), 1 constant with the
//             mirror target's reflection, 4 the sky's layer, reflected
//   LIGHT     0 none, 1 point, 2 directional
//   SPECULAR  1 the light's highlight, 2 scaled by the diffuse alpha (pixel)
//   LMODE     1 attenuation texture
// Constants and samplers follow the conventions of f_misc_11_ops.fx.
// Textures the engine binds for water: sLightMap the wave texture,
// sNormalMap the water's normal map, sSpecularMap the reflection (the
// mirror target, or the sky's current layer, both 2D), sCubeMap the sky's
// layer again (2D as well: it lights the surface with the sky's colour).

#if defined(VS_MultyShader)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#define vObjectSpaceEyePos vc[4]                               // float4 : c4
#define fTime vc[5].x                                          // float : c5
// x, y the flow or wave direction, z speed, w the wave's height.
#define vTT0 vc[6]                                             // float4 : c6
// x, y the mirror target's size in texels (set with the reflection).
#define vTT1 vc[7]                                             // float4 : c7
// x, y the second normal-map sample's uv scale, z its speed; the engine
// sets none for water, so a zero component takes its default.
#define vTT2 vc[8]                                             // float4 : c8
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
    // A mesh without normals is water lying flat.
    if (dot(normal, normal) < 1e-8) normal = vec3(0.0, 1.0, 0.0);
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
    // The second sample: finer, drifting on its own against the flow.
    vec2 scale = mix(vec2(1.7), vTT2.xy, vec2(notEqual(vTT2.xy, vec2(0.0))));
    float speed = vTT2.z != 0.0 ? vTT2.z : 0.6;
    vec2 drift = vec2(0.013, 0.007) * fTime;
    d3d_Texture[0] = vec4(uv + shift, uv * scale - (shift + drift) * speed);
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
    // The mirror target covers the screen: its coordinates are the vertex's
    // projected position (Direct3D's v runs down), moved half a texel to the
    // texel centres when the target's size is known; divided per pixel.
    vec2 halfTexel = vTT1.x > 0.0 && vTT1.y > 0.0 ? 0.5 / vTT1.xy : vec2(0.0);
    d3d_Texture[6] = vec4((vec2(gl_Position.x, -gl_Position.y) * 0.5 + (0.5 + halfTexel) * gl_Position.w),
                          0.0, gl_Position.w);
    // The wave texture drifts on its own, at half the surface's tiling.
    d3d_Texture[7] = vec4(d3d_TexCoord0.xy * 0.5 + drift, 0.0, 1.0);
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
#if LIGHT > 0
#define vColorLightDiffuse pc[3]  // float4 : c3
#endif
#if SPECULAR > 0
#define vColorLightSpecular pc[4]  // float4 : c4
#define vLightGloss pc[5]          // float4 : c5
#endif

layout(binding = 0) uniform sampler2D sDiffuseMap;
layout(binding = 1) uniform sampler2D sNormalMap;
#if AMBIENT > 0
layout(binding = 2) uniform sampler2D sSpecularMap;
#endif
#if AMBIENT == 4
layout(binding = 3) uniform sampler2D sCubeMap;
#endif
layout(binding = 4) uniform sampler2D sLightMap;
#if LMODE > 0
layout(binding = 6) uniform sampler2D sLightAttenuationMap;
#endif

// The tangent frame of the pixel: the mesh's, or (bump meshes carry no
// tangent, some no binormal either) completed around the normal.
void frame(out vec3 t, out vec3 b, out vec3 n) {
    n = normalize(d3d_Texture[2].xyz);
    b = d3d_Texture[4].xyz;
    if (dot(b, b) < 1e-8) b = cross(n, abs(n.y) < 0.99 ? vec3(0.0, 1.0, 0.0) : vec3(0.0, 0.0, 1.0));
    b = normalize(b);
    t = d3d_Texture[3].xyz;
    t = dot(t, t) < 1e-8 ? cross(b, n) : normalize(t);
}

void main() {
    // The wave texture, signed, shifts every lookup a little.
    vec2 wave = (texture(sLightMap, d3d_Texture[7].xy).rg * 2.0 - 1.0) * 0.02;
    vec4 surface = texture(sDiffuseMap, d3d_Texture[0].xy + wave) * vColorDiffuse * d3d_Diffuse;
    // The two samples averaged, each signed.
    vec3 bump = texture(sNormalMap, d3d_Texture[0].xy + wave).xyz + texture(sNormalMap, d3d_Texture[0].zw - wave).xyz - 1.0;
    vec3 t, b, normal;
    frame(t, b, normal);
    vec3 n = normalize(bump.x * t + bump.y * b + bump.z * normal);
    vec3 eye = normalize(d3d_Texture[1].xyz);
#if AMBIENT == 1
    // The mirror target, at this pixel, rippled.
    vec2 mirror = d3d_Texture[6].xy / d3d_Texture[6].w + wave + (n - normal).xz * 0.05;
    vec3 reflected = texture(sSpecularMap, mirror).rgb * vColorEnvironment.rgb;
    vec3 lit = vColorAmbient.rgb;
#elif AMBIENT == 4
    // The sky's layer is a dome seen from below: its centre the zenith, its
    // edges the horizon. A direction maps to the layer by its x and z.
    vec3 r = normalize(reflect(-eye, n));
    vec3 reflected = texture(sSpecularMap, r.xz * 0.5 + 0.5).rgb * vColorEnvironment.rgb;
    vec3 lit = vColorAmbient.rgb * texture(sCubeMap, n.xz * 0.5 + 0.5).rgb;
#else
    // A light's pass adds light only: the reflection came with the first.
    vec3 reflected = vec3(0.0);
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
