// The particle family: batches of up to MAX_PARTICLES quads, each placed
// from the particle data and turned by its alignment (entry points
// VS_MultyShader and PS_MultyShader).
//   ALIGN  0 facing the eye, 1 facing the eye and turned by the particle's
//          angle, 2 upright, turned about the vertical axis, 3 along the
//          particle axes, 4 along the particle axes, turned by the angle,
//          5 flat on the floor
// A vertex carries its corner (position x, y in -1..1), its texture
// coordinate and the particle's index (blend index 0); the turning
// alignments take the particle's angle from the corner's z. Particle i has
// two registers of data: position and size, then colour.
// Constants and samplers follow the conventions of f_misc_11_ops.fx.

#if defined(VS_MultyShader)

#define mViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#define mViewInverse mat4(vc[4], vc[5], vc[6], vc[7])     // float4x4 : c4
#define vParticleOffset vc[8]                             // float4 : c8
#if ALIGN == 3 || ALIGN == 4
#define vParticleAxis1 vc[9]   // float4 : c9
#define vParticleAxis2 vc[10]  // float4 : c10
#endif
// Two registers a particle: position and size, colour.
#define mParticleData(i) vc[12 + (i)]  // float4[122] : c12

void main() {
    int index = 2 * clamp(int(d3d_BlendIndices.x), 0, MAX_PARTICLES - 1);
    vec4 data = mParticleData(index);
    vec2 corner = d3d_Position.xy * data.w;
#if ALIGN == 1 || ALIGN == 4
    // The angle rides in the corner's z.
    float angle = d3d_Position.z;
    corner = vec2(corner.x * cos(angle) - corner.y * sin(angle), corner.x * sin(angle) + corner.y * cos(angle));
#endif
#if ALIGN == 0 || ALIGN == 1
    vec3 right = vec3(mViewInverse[0][0], mViewInverse[1][0], mViewInverse[2][0]);
    vec3 up = vec3(mViewInverse[0][1], mViewInverse[1][1], mViewInverse[2][1]);
#elif ALIGN == 2
    vec3 forward = vec3(mViewInverse[0][2], mViewInverse[1][2], mViewInverse[2][2]);
    vec3 right = normalize(vec3(-forward.z, 0.0, forward.x) + vec3(1e-6, 0.0, 0.0));
    vec3 up = vec3(0.0, 1.0, 0.0);
#elif ALIGN == 3 || ALIGN == 4
    vec3 right = vParticleAxis1.xyz, up = vParticleAxis2.xyz;
#else
    vec3 right = vec3(1.0, 0.0, 0.0), up = vec3(0.0, 0.0, 1.0);
#endif
    vec3 world = data.xyz + vParticleOffset.xyz + corner.x * right + corner.y * up;
    gl_Position = vec4(world, 1.0) * mViewProjection;
    d3d_Diffuse = mParticleData(index + 1);
    d3d_Specular = vec4(0.0);
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy, 0.0, 1.0);
    d3d_Fog = 1.0;
}

#else  // pixel program

#define vColorMain pc[0]  // float4 : c0
layout(binding = 0) uniform sampler2D sDiffuseMap;

void main() { d3d_FragColor = texture(sDiffuseMap, d3d_Texture[0].xy) * d3d_Diffuse * vColorMain; }

#endif
