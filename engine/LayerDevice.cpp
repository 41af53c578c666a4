#include "engine/LayerDevice.h"

namespace {

struct LayerDevice {
    fz_device super;
    fz_device* target;
    PageLayer layer;
    int mask_depth;   // > 0 while a soft mask is being defined
};

LayerDevice* Self(fz_device* dev) { return reinterpret_cast<LayerDevice*>(dev); }

bool InMask(fz_device* dev) { return Self(dev)->mask_depth > 0; }
bool IsForeground(fz_device* dev) { return Self(dev)->layer == PageLayer::Foreground; }

bool IsThin(const fz_stroke_state* stroke, fz_matrix ctm)
{
    float width = stroke ? stroke->linewidth : 1.0f;
    return width * fz_matrix_expansion(ctm) <= kThinStrokePixels;
}

// Rules and underlines are often filled rectangles rather than strokes: a filled shape
// no thicker than a thin stroke is line art too.
bool IsThinFill(fz_context* ctx, const fz_path* path, fz_matrix ctm)
{
    fz_rect r = fz_bound_path(ctx, path, nullptr, ctm);
    return fz_is_valid_rect(r) && (r.x1 - r.x0 <= kThinStrokePixels || r.y1 - r.y0 <= kThinStrokePixels);
}

void FillPath(fz_context* ctx, fz_device* dev, const fz_path* path, int even_odd, fz_matrix ctm,
              fz_colorspace* cs, const float* color, float alpha, fz_color_params cp)
{
    if (InMask(dev) || IsThinFill(ctx, path, ctm) == IsForeground(dev))
        fz_fill_path(ctx, Self(dev)->target, path, even_odd, ctm, cs, color, alpha, cp);
}

void StrokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha, fz_color_params cp)
{
    bool thin = IsThin(stroke, ctm);
    if (InMask(dev) || thin == IsForeground(dev))
        fz_stroke_path(ctx, Self(dev)->target, path, stroke, ctm, cs, color, alpha, cp);
}

void ClipPath(fz_context* ctx, fz_device* dev, const fz_path* path, int even_odd, fz_matrix ctm, fz_rect scissor)
{
    fz_clip_path(ctx, Self(dev)->target, path, even_odd, ctm, scissor);
}

void ClipStrokePath(fz_context* ctx, fz_device* dev, const fz_path* path, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    fz_clip_stroke_path(ctx, Self(dev)->target, path, stroke, ctm, scissor);
}

void FillText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm, fz_colorspace* cs,
              const float* color, float alpha, fz_color_params cp)
{
    if (InMask(dev) || IsForeground(dev))
        fz_fill_text(ctx, Self(dev)->target, text, ctm, cs, color, alpha, cp);
}

void StrokeText(fz_context* ctx, fz_device* dev, const fz_text* text, const fz_stroke_state* stroke,
                fz_matrix ctm, fz_colorspace* cs, const float* color, float alpha, fz_color_params cp)
{
    if (InMask(dev) || IsForeground(dev))
        fz_stroke_text(ctx, Self(dev)->target, text, stroke, ctm, cs, color, alpha, cp);
}

// Text used as a clip shapes whatever is painted through it; both layers keep the clip
// so that their clip stacks stay balanced.
void ClipText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm, fz_rect scissor)
{
    fz_clip_text(ctx, Self(dev)->target, text, ctm, scissor);
}

void ClipStrokeText(fz_context* ctx, fz_device* dev, const fz_text* text, const fz_stroke_state* stroke,
                    fz_matrix ctm, fz_rect scissor)
{
    fz_clip_stroke_text(ctx, Self(dev)->target, text, stroke, ctm, scissor);
}

void IgnoreText(fz_context* ctx, fz_device* dev, const fz_text* text, fz_matrix ctm)
{
    fz_ignore_text(ctx, Self(dev)->target, text, ctm);
}

void FillShade(fz_context* ctx, fz_device* dev, fz_shade* shade, fz_matrix ctm, float alpha, fz_color_params cp)
{
    if (InMask(dev) || !IsForeground(dev))
        fz_fill_shade(ctx, Self(dev)->target, shade, ctm, alpha, cp);
}

void FillImage(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, float alpha, fz_color_params cp)
{
    if (InMask(dev) || !IsForeground(dev))
        fz_fill_image(ctx, Self(dev)->target, image, ctm, alpha, cp);
}

// A stencil mask paints one colour through a bitmap: scanned text and bitmap glyphs.
void FillImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, fz_colorspace* cs,
                   const float* color, float alpha, fz_color_params cp)
{
    if (InMask(dev) || IsForeground(dev))
        fz_fill_image_mask(ctx, Self(dev)->target, image, ctm, cs, color, alpha, cp);
}

void ClipImageMask(fz_context* ctx, fz_device* dev, fz_image* image, fz_matrix ctm, fz_rect scissor)
{
    fz_clip_image_mask(ctx, Self(dev)->target, image, ctm, scissor);
}

void PopClip(fz_context* ctx, fz_device* dev)
{
    fz_pop_clip(ctx, Self(dev)->target);
}

void BeginMask(fz_context* ctx, fz_device* dev, fz_rect area, int luminosity, fz_colorspace* cs,
               const float* bc, fz_color_params cp)
{
    fz_begin_mask(ctx, Self(dev)->target, area, luminosity, cs, bc, cp);
    Self(dev)->mask_depth++;
}

void EndMask(fz_context* ctx, fz_device* dev)
{
    if (Self(dev)->mask_depth > 0)
        Self(dev)->mask_depth--;
    fz_end_mask(ctx, Self(dev)->target);
}

void BeginGroup(fz_context* ctx, fz_device* dev, fz_rect area, fz_colorspace* cs, int isolated, int knockout,
                int blendmode, float alpha)
{
    fz_begin_group(ctx, Self(dev)->target, area, cs, isolated, knockout, blendmode, alpha);
}

void EndGroup(fz_context* ctx, fz_device* dev)
{
    fz_end_group(ctx, Self(dev)->target);
}

int BeginTile(fz_context* ctx, fz_device* dev, fz_rect area, fz_rect view, float xstep, float ystep,
              fz_matrix ctm, int id)
{
    return fz_begin_tile_id(ctx, Self(dev)->target, area, view, xstep, ystep, ctm, id);
}

void EndTile(fz_context* ctx, fz_device* dev)
{
    fz_end_tile(ctx, Self(dev)->target);
}

void RenderFlags(fz_context* ctx, fz_device* dev, int set, int clear)
{
    fz_render_flags(ctx, Self(dev)->target, set, clear);
}

void SetDefaultColorspaces(fz_context* ctx, fz_device* dev, fz_default_colorspaces* dcs)
{
    fz_set_default_colorspaces(ctx, Self(dev)->target, dcs);
}

void BeginLayer(fz_context* ctx, fz_device* dev, const char* name)
{
    fz_begin_layer(ctx, Self(dev)->target, name);
}

void EndLayer(fz_context* ctx, fz_device* dev)
{
    fz_end_layer(ctx, Self(dev)->target);
}

} // namespace

fz_device* NewLayerDevice(fz_context* ctx, fz_device* target, PageLayer layer)
{
    LayerDevice* dev = fz_new_derived_device(ctx, LayerDevice);
    dev->target = target;
    dev->layer = layer;
    dev->mask_depth = 0;
    dev->super.fill_path = FillPath;
    dev->super.stroke_path = StrokePath;
    dev->super.clip_path = ClipPath;
    dev->super.clip_stroke_path = ClipStrokePath;
    dev->super.fill_text = FillText;
    dev->super.stroke_text = StrokeText;
    dev->super.clip_text = ClipText;
    dev->super.clip_stroke_text = ClipStrokeText;
    dev->super.ignore_text = IgnoreText;
    dev->super.fill_shade = FillShade;
    dev->super.fill_image = FillImage;
    dev->super.fill_image_mask = FillImageMask;
    dev->super.clip_image_mask = ClipImageMask;
    dev->super.pop_clip = PopClip;
    dev->super.begin_mask = BeginMask;
    dev->super.end_mask = EndMask;
    dev->super.begin_group = BeginGroup;
    dev->super.end_group = EndGroup;
    dev->super.begin_tile = BeginTile;
    dev->super.end_tile = EndTile;
    dev->super.render_flags = RenderFlags;
    dev->super.set_default_colorspaces = SetDefaultColorspaces;
    dev->super.begin_layer = BeginLayer;
    dev->super.end_layer = EndLayer;
    return &dev->super;
}
