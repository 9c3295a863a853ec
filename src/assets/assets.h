// The status page, the brand icon and the main site address, compiled into the
// program by cmake/embed.cmake. Every view points at static storage and stays
// valid for the life of the process.
#pragma once

#include <string_view>

namespace nerova::assets {

// The status page served at /ui (UTF-8 HTML), with the main site address in it.
std::string_view status_page_html();

// The 256 px brand image served at /icon.png; byte for byte the PNG entry of brand_ico().
std::string_view icon_png();

// The brand icon file: seven 32-bit images, 16 to 128 px as bitmaps, 256 px as PNG.
std::string_view brand_ico();

// The product's main web site address (build setting NEROVA_MAIN_SITE_URL).
std::string_view main_site_url();

}  // namespace nerova::assets
