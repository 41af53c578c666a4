// Devices that split a page into two layers while forwarding to a draw device:
//  - Background: everything except text and thin line art (images, shadings, fills).
//  - Foreground: text, thin strokes and thin filled shapes, stencil masks, with every
//    clip, group, mask and tile forwarded so that the text is clipped and blended exactly
//    as on the full page.
// Inside a soft mask's definition both layers forward everything: the mask shapes what
// is drawn through it, and dropping part of it would change the visible page.
#pragma once

#include <mupdf/fitz.h>

enum class PageLayer { Background, Foreground };

// A stroke no wider (a filled shape no thicker) than this many device pixels counts as
// thin line art (rules, table borders, underlines) and goes with the text into the crisp
// layer.
constexpr float kThinStrokePixels = 2.0f;

// Creates a device that forwards to `target` (not owned; the caller closes and drops it
// after this one).
fz_device* NewLayerDevice(fz_context* ctx, fz_device* target, PageLayer layer);
