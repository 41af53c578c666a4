// The hint in the book page's head that lets the browser ask for the first page's images
// while the viewer script is still on its way.
#pragma once

#include "pagegen/BookPageSettings.h"

#include <string>

namespace pagegen {

// Two <link rel="preload" as="image"> elements for page 1 (the background and the text
// layer image), each with every image set in `imagesrcset` (the zoom layer's set too,
// which is made at the page size) and, in `imagesizes`, the width at which the viewer
// shows page 1 in the window: the browser then asks for the set that the screen's pixel
// ratio and the window size call for, and nothing larger. The descriptors are the sets'
// page widths divided by 0.95, the slack the viewer allows before it takes a larger set.
// A third link asks for the first piece of the page layout (layout-1.js), which the
// viewer reads before the first spread (it holds the reading direction). `image_dir` is
// the folder of the image sets and of the layout files relative to the page. Empty when
// the book has no usable image sets or the folder holds characters that have no place in
// an address.
// When the zoom layer's text is in tiles, the text layer's list leaves that set out: the
// viewer shows the largest other set's text layer there until the tiles are in.
std::string FirstSpreadHint(const BookPageSettings& book, const std::string& image_dir);

// Whether the book in `book_folder` has the sharp zoom's tiles, which then carry the zoom
// layer's text (BookPageSettings::zoom_text_in_tiles).
bool ZoomTextInTiles(const std::string& book_folder);

}  // namespace pagegen
