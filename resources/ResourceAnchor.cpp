// Gives the resource library an object of its own; the resources are attached by CMake.
namespace {
[[maybe_unused]] const int resourceLibraryAnchor = 0;
}
