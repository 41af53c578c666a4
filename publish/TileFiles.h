// The sharp zoom's tiles of a book: the files of its tiles folder, by page. A book made
// before the tiles has no such folder and no tiles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The tile index, which names every tile; it is sent after them.
inline constexpr const char* kTileIndexName = "tiles.js";

// The tile file names ("img-<page>-<column>-<row>.png") of pages 1..page_count in
// `tile_folder`, one list per page (index 0: page 1), each sorted; names of other forms
// are left out.
std::vector<std::vector<std::string>> TileNamesByPage(const std::string& tile_folder, int32_t page_count);
