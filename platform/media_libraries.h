// The FFmpeg libraries behind the media runtime are loaded on first use
// (see media_libraries.cpp).
#pragma once

namespace platform {

// True once every one of them has been loaded into this process.
bool MediaLibrariesLoaded();

}  // namespace platform
