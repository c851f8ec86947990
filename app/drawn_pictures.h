#pragma once
// The program's pictures as the build drew them (quorvane-icons --source writes the table), so
// that a start shows its window and tray icons without painting them: the first QPainter of a
// process costs more than the rest of those icons together.

#include <cstdint>
#include <span>

namespace quorvane {

struct DrawnPicture {
    const char* name; // "program-16", "lamp-00c800"
    int width, height;
    const std::uint32_t* pixels; // premultiplied ARGB, row after row
};

// Every picture the build drew, in the program's data.
std::span<const DrawnPicture> DrawnPictures();

} // namespace quorvane
