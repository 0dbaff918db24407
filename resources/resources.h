// The program's embedded assets (Qt resources):
//   ":/wave/<n>.wav"   the sound cues of resources/cues.h
//   ":/bitmap/155.bmp", ":/bitmap/157.bmp", ":/bitmap/158.bmp"
//                      the login window's progress frames (144 x 14, 24-bit; shown 157, 155, 158)
//   ":/icon/128.png"   the program's icon
#pragma once

namespace velkor {

// Registers the embedded assets. Static libraries need this call once before the
// first use; further calls do nothing. Thread-safe.
void initResources();

} // namespace velkor
