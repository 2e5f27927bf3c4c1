// The shared library is the static core linked whole; this file gives the
// target its one source of its own.
namespace virazav {
extern const char kSharedLibraryAnchor[] = "libvirazav";
}
