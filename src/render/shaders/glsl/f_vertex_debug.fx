// The vertex debug family: shows one vector of the vertex as a colour
// (entry points VS_MultyShader and PS_MultyShader).
//   BONES        0 rigid, 1-4 skinned with that many weights
//   VERTEXDEBUG  0 tangent, 1 binormal, 2 normal, 3 light vector, 4 eye
//                vector, 5-7 the tangent, binormal and normal in world space
// Constants and samplers follow the conventions of f_misc_11_ops.fx.

#if defined(VS_MultyShader)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#if VERTEXDEBUG >= 5
#define mWorld mat4(vc[4], vc[5], vc[6], vc[7])  // float4x4 : c4
#endif
#if VERTEXDEBUG == 3
#define vObjectSpaceLightPos vc[8]  // float4 : c8
#endif
#if VERTEXDEBUG == 4
#define vObjectSpaceEyePos vc[9]  // float4 : c9
#endif
#if BONES > 0
#define mBones(i) vc[20 + (i)]  // float4[234] : c20
vec3 boneTransform(int bone, vec4 v) {
    int b = 3 * clamp(bone, 0, MAX_BONES - 1);
    return vec3(dot(v, mBones(b)), dot(v, mBones(b + 1)), dot(v, mBones(b + 2)));
}
#endif

// A unit vector as a colour.
vec4 shown(vec3 v) { return vec4(normalize(v + vec3(1e-6)) * 0.5 + 0.5, 1.0); }

void main() {
    vec4 position = vec4(d3d_Position.xyz, 1.0);
#if VERTEXDEBUG == 0 || VERTEXDEBUG == 5
    vec3 v = d3d_Tangent.xyz;
#elif VERTEXDEBUG == 1 || VERTEXDEBUG == 6
    vec3 v = d3d_Binormal.xyz;
#else
    vec3 v = d3d_Normal.xyz;
#endif
#if BONES > 0
    vec3 p = vec3(0.0), moved = vec3(0.0);
    float rest = 1.0;
    for (int i = 0; i < BONES; ++i) {
        float w = i == BONES - 1 ? rest : d3d_BlendWeight[i];
        rest -= w;
        p += w * boneTransform(int(d3d_BlendIndices[i]), position);
        moved += w * boneTransform(int(d3d_BlendIndices[i]), vec4(v, 0.0));
    }
    position = vec4(p, 1.0);
    v = moved;
#endif
#if VERTEXDEBUG == 3
    v = vObjectSpaceLightPos.xyz - position.xyz;
#elif VERTEXDEBUG == 4
    v = vObjectSpaceEyePos.xyz - position.xyz;
#elif VERTEXDEBUG >= 5
    v = (vec4(v, 0.0) * mWorld).xyz;
#endif
    gl_Position = position * mWorldViewProjection;
    d3d_Diffuse = shown(v);
    d3d_Specular = vec4(0.0);
    d3d_Fog = 1.0;
}

#else  // pixel program

void main() { d3d_FragColor = d3d_Diffuse; }

#endif
