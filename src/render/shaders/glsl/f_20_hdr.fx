// Standalone programs of the post-processing chain: down-sampling, the
// Gaussian blurs, bright pass, luminance, tone mapping, bloom and the
// Poisson-disc depth of field. Same conventions as f_misc_11_ops.fx: a
// define named after the entry point selects a program, and each constant
// the engine sets is a #define whose comment gives its type and register:
//   #define NAME EXPRESSION      // TYPE : cN
//   #define NAME(i) EXPRESSION   // TYPE[COUNT] : cN
// Samplers: layout(binding = N) uniform sampler2D NAME.

#if defined(VS_HDR_plain)

#define mWorldViewProjection mat4(vc[0], vc[1], vc[2], vc[3])  // float4x4 : c0

// A screen quad: one texture coordinate, passed on.
void main() {
    gl_Position = vec4(d3d_Position.xyz, 1.0) * mWorldViewProjection;
    d3d_Diffuse = d3d_Color0;
    d3d_Texture[0] = vec4(d3d_TexCoord0.xy, 0.0, 1.0);
}

#else  // pixel programs

#define vColorMain pc[0]  // float4 : c0
// x, y: one texel of the source.
#define vTT0 pc[1]        // float4 : c1

// The source image; the blurred image of the two-source passes.
layout(binding = 0) uniform sampler2D sDiffuseMap;
vec2 uv() { return d3d_Texture[0].xy; }
vec4 source(vec2 at) { return texture(sDiffuseMap, at); }
float luminance(vec3 c) { return dot(c, vec3(0.2125, 0.7154, 0.0721)); }

#if defined(PS_HDR_downsample) || defined(PS_HDR_downluminance)
// The mean of the four texels around the sample point.
vec4 mean4() {
    vec2 t = vTT0.xy * 0.5;
    return 0.25 * (source(uv() + vec2(-t.x, -t.y)) + source(uv() + vec2(t.x, -t.y)) +
                   source(uv() + vec2(-t.x, t.y)) + source(uv() + vec2(t.x, t.y)));
}
#endif

#if defined(PS_HDR_downsample)
void main() { d3d_FragColor = mean4() * vColorMain; }
#endif

#if defined(PS_HDR_downluminance)
void main() {
    float l = luminance(mean4().rgb);
    d3d_FragColor = vec4(l, l, l, 1.0);
}
#endif

#if defined(PS_HDR_luminance)
// The log-average luminance of the source's texel.
void main() {
    float l = log(0.0001 + luminance(source(uv()).rgb));
    d3d_FragColor = vec4(l, l, l, 1.0);
}
#endif

// Taps: x, y offsets and the weight; the weights add up to 1.
#if defined(PS_HDR_blur)
#define GaussianFilter(i) pc[2 + (i)]  // float4[13] : c2
void main() {
    vec4 sum = vec4(0.0);
    for (int i = 0; i < GaussianFilterLength; ++i) sum += source(uv() + GaussianFilter(i).xy) * GaussianFilter(i).z;
    d3d_FragColor = sum * vColorMain;
}
#endif

#if defined(PS_HDR_blursmall)
#define GaussianFilterSmall(i) pc[2 + (i)]  // float4[5] : c2
void main() {
    vec4 sum = vec4(0.0);
    for (int i = 0; i < GaussianFilterSmallLength; ++i)
        sum += source(uv() + GaussianFilterSmall(i).xy) * GaussianFilterSmall(i).z;
    d3d_FragColor = sum * vColorMain;
}
#endif

#if defined(PS_HDR_bright) || defined(PS_HDR_bright2) || defined(PS_HDR_tonemap)
#define HDR_Kd pc[2].x             // float : c2
#define HDR_ExposureLevel pc[3].x  // float : c3
#endif

#if defined(PS_HDR_bright)
// What is brighter than the threshold, by colour.
void main() {
    vec4 c = source(uv());
    d3d_FragColor = vec4(max(c.rgb - vec3(HDR_Kd), vec3(0.0)) * HDR_ExposureLevel, 1.0);
}
#endif

#if defined(PS_HDR_bright2)
// What is brighter than the threshold, by luminance.
void main() {
    vec4 c = source(uv());
    float over = max(luminance(c.rgb) - HDR_Kd, 0.0);
    d3d_FragColor = vec4(c.rgb * over * HDR_ExposureLevel, 1.0);
}
#endif

#if defined(PS_HDR_tonemap)
void main() {
    vec3 c = source(uv()).rgb * HDR_ExposureLevel;
    d3d_FragColor = vec4(c / (vec3(1.0) + c), 1.0) * vColorMain;
}
#endif

#if defined(PS_HDR_bloom) || defined(PS_HDR_hdr) || defined(PS_HDR_PoissonDOF) || defined(PS_HDR_PoissonDOF_Debug)
layout(binding = 1) uniform sampler2D sLightMap;
vec4 second(vec2 at) { return texture(sLightMap, at); }
#endif

#if defined(PS_HDR_bloom) || defined(PS_HDR_hdr)
#define HDR_PixelWeight1 pc[2]  // float4 : c2
#define HDR_PixelWeight2 pc[3]  // float4 : c3
#endif

#if defined(PS_HDR_bloom)
// The scene plus its blurred bright parts.
void main() {
    vec4 c = source(uv()) + second(uv()) * HDR_PixelWeight1;
    d3d_FragColor = vec4(c.rgb, 1.0) * vColorMain;
}
#endif

#if defined(PS_HDR_hdr)
void main() {
    vec4 c = source(uv()) * HDR_PixelWeight1 + second(uv()) * HDR_PixelWeight2;
    d3d_FragColor = vec4(c.rgb, 1.0) * vColorMain;
}
#endif

#if defined(PS_HDR_PoissonDOF) || defined(PS_HDR_PoissonDOF_Debug)
// Twelve disc offsets, two a register (xy, zw), already scaled to texels.
#define DOF_filterTaps(i) pc[2 + (i)]  // float4[7] : c2
#endif

#if defined(PS_HDR_PoissonDOF)
// The full image's alpha is the blur amount written by the depth pass:
// the sharp image and the disc-sampled blurred one are mixed by it.
void main() {
    vec4 sharp = source(uv());
    vec4 blurred = second(uv());
    for (int i = 0; i < 6; ++i) {
        blurred += second(uv() + DOF_filterTaps(i).xy * sharp.a);
        blurred += second(uv() + DOF_filterTaps(i).zw * sharp.a);
    }
    blurred /= 13.0;
    d3d_FragColor = vec4(mix(sharp.rgb, blurred.rgb, clamp(sharp.a, 0.0, 1.0)), 1.0) * vColorMain;
}
#endif

#if defined(PS_HDR_PoissonDOF_Debug)
// Shows the blur amount in grey.
void main() {
    float a = source(uv()).a;
    d3d_FragColor = vec4(a, a, a, 1.0);
}
#endif

#endif
