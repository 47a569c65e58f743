// Standalone programs: screen and still-frame operations (OPS), post-process
// colour filters (PP), the shadow caster and receiver and the rain map.
//
// One define named after the entry point selects a program. Constants live
// in the device's registers (vc[] vertex, pc[] pixel); each one the engine
// sets is a #define whose comment gives its type and register, which the
// shader packer turns into the program's constant table:
//   #define NAME EXPRESSION      // TYPE : cN
//   #define NAME(i) EXPRESSION   // TYPE[COUNT] : cN
// Samplers are uniforms bound to their texture stage:
//   layout(binding = N) uniform sampler2D NAME;
// Matrices take four registers, one column each, and transform row vectors
// (v * M).

#if defined(VS_RAINMAP) || defined(VS_RAINMAP_DROP) || defined(VS_RAINMAP_RIPPLE) || defined(VS_SHADOWD) || \
    defined(VS_SHADOWCAST) || defined(VS_OPSC) || defined(VS_OPSC1) || defined(VS_OPS1) || defined(VS_OPS2) || \
    defined(VS_OPS3)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0
#define vColorMain vc[4]                                       // float4 : c4

vec4 projected() { return vec4(d3d_Position.xyz, 1.0) * mWorldViewProjection; }

#if defined(VS_RAINMAP)
// The rain map's height pass: each point's height above the traced bottom
// (vTT0.x), in thousandths, for the pixel program to encode.
#define mWorld mat4(vc[5], vc[6], vc[7], vc[8])  // float4x4 : c5
#define vTT0 vc[9]                                // float4 : c9
void main() {
    gl_Position = projected();
    float height = (vec4(d3d_Position.xyz, 1.0) * mWorld).y;
    d3d_Diffuse = vec4(1.0);
    d3d_Texture[0] = vec4((height - vTT0.x) * 1000.0, 0.0, 0.0, 1.0);
}
#endif

#if defined(VS_RAINMAP_DROP) || defined(VS_RAINMAP_RIPPLE)
// A drop's four vertices carry its ground point, its phase (normal x), its
// quad corner (first coordinates: x -0.5 or 0.5, y 0 or 1) and its strip
// column and cycle length L (second coordinates). vTT2.x is the pass's
// time, already scaled by its speed; a drop's moment in its cycle is
// (time + phase) mod L.
#define vTT0 vc[5]  // float4 : c5
#define vTT1 vc[6]  // float4 : c6
#define vTT2 vc[7]  // float4 : c7
float cycleLength() { return max(d3d_TexCoord1.y, 0.001); }
float cycleMoment() { return mod(vTT2.x + d3d_Normal.x, cycleLength()); }
#endif

#if defined(VS_RAINMAP_DROP)
// The drop falls vTT1.x a time step and lands at the end of its cycle: a
// streak as long as L / phase base (vTT0.y) falls, vTT1.y wide on screen.
void main() {
    float L = cycleLength();
    vec3 p = d3d_Position.xyz;
    p.y += (L - cycleMoment()) * vTT1.x + d3d_TexCoord0.y * L * vTT0.y * vTT1.x * 2.0;
    vec4 clip = vec4(p, 1.0) * mWorldViewProjection;
    clip.x += d3d_TexCoord0.x * vTT1.y * 1.5;
    gl_Position = clip;
    d3d_Diffuse = vColorMain;
    d3d_Texture[0] = vec4(d3d_TexCoord1.x, 1.0 - d3d_TexCoord0.y, 0.0, 1.0);
}
#endif

#if defined(VS_RAINMAP_RIPPLE)
// Where the drop landed a ripple lies flat on the ground: over the cycle
// it grows from vTT1.x across to vTT1.x x vTT1.y and fades out.
void main() {
    float life = cycleMoment() / cycleLength();
    float size = vTT1.x * (1.0 + life * (vTT1.y - 1.0));
    vec3 p = d3d_Position.xyz + vec3(d3d_TexCoord0.x, 0.0, d3d_TexCoord0.y - 0.5) * size;
    p.y += 0.02;
    gl_Position = vec4(p, 1.0) * mWorldViewProjection;
    d3d_Diffuse = vec4(vColorMain.rgb, vColorMain.a * (1.0 - life));
    d3d_Texture[0] = vec4(d3d_TexCoord0.x + 0.5, d3d_TexCoord0.y, 0.0, 1.0);
}
#endif

#if defined(VS_SHADOWD)
#define mShadow mat4(vc[5], vc[6], vc[7], vc[8])  // float4x4 : c5
// A projected shadow (the character shadows): the map coordinates of the vertex.
void main() {
    vec4 p = vec4(d3d_Position.xyz, 1.0);
    gl_Position = p * mWorldViewProjection;
    d3d_Diffuse = vColorMain;
    d3d_Texture[0] = p * mShadow;
}
#endif

#if defined(VS_SHADOWCAST)
// The shadow receiver: the shadow map's projective coordinates of the
// vertex (mShadow maps world space to the map's window), pulled towards the
// light by the depth offset vTT1.x, and the world position for the falloff.
#define mWorld mat4(vc[5], vc[6], vc[7], vc[8])     // float4x4 : c5
#define mShadow mat4(vc[9], vc[10], vc[11], vc[12])  // float4x4 : c9
#define vTT0 vc[13]                                  // float4 : c13
#define vTT1 vc[14]                                  // float4 : c14
void main() {
    vec4 p = vec4(d3d_Position.xyz, 1.0);
    gl_Position = p * mWorldViewProjection;
    vec4 world = p * mWorld;
    vec4 shadow = world * mShadow;
    shadow.z -= vTT1.x * shadow.w;
    d3d_Diffuse = vec4(1.0);
    d3d_Texture[0] = shadow * vec4(vTT0.xy, 1.0, 1.0);
    d3d_Texture[1] = world;
}
#endif

#if defined(VS_OPSC)
void main() {
    gl_Position = projected();
    d3d_Diffuse = d3d_Color0 * vColorMain;
}
#endif

#if defined(VS_OPSC1)
void main() {
    gl_Position = projected();
    d3d_Diffuse = d3d_Color0 * vColorMain;
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy, 0.0, 1.0);
}
#endif

#if defined(VS_OPS1) || defined(VS_OPS2) || defined(VS_OPS3)
// The sky's layers: each layer's coordinates are the vertex's one set,
// scaled by vTTn.xy and scrolled by vTTn.zw; the first layer's colour goes
// on as the diffuse colour. The squared exponential fog of density
// vLinearFog.x grows with the eye distance (the projected w).
#define vTT0 vc[5]        // float4 : c5
#define vTT1 vc[6]        // float4 : c6
#define vTT2 vc[7]        // float4 : c7
#define vLinearFog vc[8]  // float4 : c8
void main() {
    gl_Position = projected();
    d3d_Diffuse = vColorMain;
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy * vTT0.xy + vTT0.zw, 0.0, 1.0);
#if defined(VS_OPS2) || defined(VS_OPS3)
    d3d_Texture[1] = vec4(d3d_TexCoord0.xy * vTT1.xy + vTT1.zw, 0.0, 1.0);
#endif
#if defined(VS_OPS3)
    d3d_Texture[2] = vec4(d3d_TexCoord0.xy * vTT2.xy + vTT2.zw, 0.0, 1.0);
#endif
    float fd = vLinearFog.x * gl_Position.w;
    d3d_Fog = exp(-fd * fd);
}
#endif

#else  // pixel programs

#define vColorMain pc[0]  // float4 : c0

layout(binding = 0) uniform sampler2D sDiffuseMap;
vec4 texture1() { return texture(sDiffuseMap, d3d_Texture[0].xy); }

#if defined(PS_OPS_RGB1_ADD_A2) || defined(PS_OPS_RGB1_LERP_RGB2) || defined(PS_OPS_A1_LERP_RGB2) || \
    defined(PS_OPS_RGB1_ADD_A2_LERP_RGB3) || defined(PS_PP_BLACKWHITE_MASK) || defined(PS_PP_SEPIA_MASK)
layout(binding = 1) uniform sampler2D sLightMap;
vec4 texture2() { return texture(sLightMap, d3d_Texture[1].xy); }
#endif

#if defined(PS_OPS_RGB1_ADD_A2_LERP_RGB3)
layout(binding = 2) uniform sampler2D sSpecularMap;
vec4 texture3() { return texture(sSpecularMap, d3d_Texture[2].xy); }
#endif

float grey(vec3 c) { return dot(c, vec3(0.299, 0.587, 0.114)); }
vec3 sepia(vec3 c) { return grey(c) * vec3(1.07, 0.74, 0.43); }

#if defined(PS_RAINMAP)
void main() { d3d_FragColor = texture1() * d3d_Diffuse; }
#endif

#if defined(PS_RAINMAP_RENDER)
// The height encoding the rain map tracer reads: h thousandths above the
// bottom as (red x 255 + green) x 255 + blue, alpha 1 where geometry is.
// Whole numbers below 2^24 are exact in a float; a quotient rounded to the
// next whole number is put right by the remainder's sign.
vec2 divide255(float value) {
    float q = floor(value / 255.0);
    float r = value - q * 255.0;
    if (r < 0.0) { q -= 1.0; r += 255.0; }
    if (r >= 255.0) { q += 1.0; r -= 255.0; }
    return vec2(q, r);
}
void main() {
    float h = clamp(floor(d3d_Texture[0].x + 0.5), 0.0, 16581374.0);
    vec2 low = divide255(h);
    vec2 high = divide255(low.x);
    d3d_FragColor = vec4(high.x, high.y, low.y, 255.0) / 255.0;
}
#endif

#if defined(PS_SHADOWCAST)
// The shadow receiver, drawn alpha-blended over the lit scene: the map's
// alpha holds the casters' coverage (the shadow maps are A8). vTT1: x the strength, y the falloff
// exponent, z 1 / (2 + falloff offset)^y, so the shadow fades out towards
// the falloff offset's distance from the light (vObjectSpaceLightPos);
// vColorAmbient: the shadow's colour. The vertex gives the point's place
// within the record's cell (0 to 1); vTT0 maps it into the map: the cell's
// size (x, y) and its corner (z, w).
#define vColorAmbient pc[1]         // float4 : c1
#define vTT1 pc[2]                  // float4 : c2
#define vObjectSpaceLightPos pc[3]  // float4 : c3
#define vTT0 pc[4]                  // float4 : c4
void main() {
    vec2 uv = d3d_Texture[0].xy / max(d3d_Texture[0].w, 0.0001);
    bool inside = all(greaterThanEqual(uv, vec2(0.0))) && all(lessThanEqual(uv, vec2(1.0)));
    float cover = inside ? texture(sDiffuseMap, uv * vTT0.xy + vTT0.zw).a : 0.0;
    float away = length(d3d_Texture[1].xyz - vObjectSpaceLightPos.xyz);
    float falloff = clamp(pow(2.0 + away, vTT1.y) * vTT1.z, 0.0, 1.0);
    float strength = clamp(0.5 * vTT1.x * cover * (1.0 - falloff), 0.0, 1.0);
    d3d_FragColor = vec4(vColorAmbient.rgb, strength);
}
#endif

#if defined(PS_SHADOWD)
#define vTT1 pc[1]  // float4 : c1
// A projected shadow: the map's alpha is the coverage, vTT1.x its strength.
void main() {
    vec2 uv = d3d_Texture[0].xy / max(d3d_Texture[0].w, 0.0001);
    float cover = texture(sDiffuseMap, uv).a * vTT1.x;
    d3d_FragColor = vec4(d3d_Diffuse.rgb, clamp(cover, 0.0, 1.0));
}
#endif

#if defined(PS_REFLECTION)
// An element seen in the water's mirror: its texture in its ambient colour,
// unlit and opaque.
#define vColorAmbient pc[1]  // float4 : c1
void main() { d3d_FragColor = vec4(texture1().rgb * vColorAmbient.rgb, 1.0); }
#endif

#if defined(PS_OPS_C)
void main() { d3d_FragColor = d3d_Diffuse; }
#endif

#if defined(PS_OPS_CRGB)
void main() { d3d_FragColor = vec4(d3d_Diffuse.rgb * texture1().rgb, d3d_Diffuse.a); }
#endif

// The sky's layers: the first layer's colour is the diffuse colour, the
// second's vTT0 and the third's vTT1. The sky takes the main texture's
// colour, the stars its alpha; clouds cover what lies below by their
// texture's alpha. The alpha is the first colour's.
#if defined(PS_OPS_RGB1_ADD_A2) || defined(PS_OPS_RGB1_LERP_RGB2) || defined(PS_OPS_A1_LERP_RGB2) || \
    defined(PS_OPS_RGB1_ADD_A2_LERP_RGB3)
#define vTT0 pc[1]  // float4 : c1
#endif
#if defined(PS_OPS_RGB1_ADD_A2_LERP_RGB3)
#define vTT1 pc[2]  // float4 : c2
#endif

#if defined(PS_OPS_RGB1)
void main() { d3d_FragColor = vec4(texture1().rgb * d3d_Diffuse.rgb, d3d_Diffuse.a); }
#endif

#if defined(PS_OPS_A1)
void main() { d3d_FragColor = vec4(d3d_Diffuse.rgb * texture1().a, d3d_Diffuse.a); }
#endif

#if defined(PS_OPS_RGB1_ADD_A2)
void main() { d3d_FragColor = vec4(texture1().rgb * d3d_Diffuse.rgb + texture2().a * vTT0.rgb, d3d_Diffuse.a); }
#endif

#if defined(PS_OPS_RGB1_LERP_RGB2)
void main() {
    vec4 clouds = texture2();
    d3d_FragColor = vec4(mix(texture1().rgb * d3d_Diffuse.rgb, clouds.rgb * vTT0.rgb, clouds.a), d3d_Diffuse.a);
}
#endif

#if defined(PS_OPS_A1_LERP_RGB2)
void main() {
    vec4 clouds = texture2();
    d3d_FragColor = vec4(mix(texture1().a * d3d_Diffuse.rgb, clouds.rgb * vTT0.rgb, clouds.a), d3d_Diffuse.a);
}
#endif

#if defined(PS_OPS_RGB1_ADD_A2_LERP_RGB3)
void main() {
    vec3 below = texture1().rgb * d3d_Diffuse.rgb + texture2().a * vTT0.rgb;
    vec4 clouds = texture3();
    d3d_FragColor = vec4(mix(below, clouds.rgb * vTT1.rgb, clouds.a), d3d_Diffuse.a);
}
#endif

// Colour filters: vColorMain.a is how much of the filter shows; the masks
// take it from the second texture's alpha as well.
#if defined(PS_PP_BLACKWHITE) || defined(PS_PP_SEPIA) || defined(PS_PP_BLACKWHITE_MASK) || defined(PS_PP_SEPIA_MASK)
void main() {
    vec4 c = texture1();
#if defined(PS_PP_SEPIA) || defined(PS_PP_SEPIA_MASK)
    vec3 filtered = sepia(c.rgb) * vColorMain.rgb;
#else
    vec3 filtered = vec3(grey(c.rgb)) * vColorMain.rgb;
#endif
    float amount = vColorMain.a;
#if defined(PS_PP_BLACKWHITE_MASK) || defined(PS_PP_SEPIA_MASK)
    amount *= texture2().a;
#endif
    d3d_FragColor = vec4(mix(c.rgb, filtered, amount), 1.0);
}
#endif

#endif
