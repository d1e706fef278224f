// Sets or removes a property of the X root window of screen 0 (what a colour
// manager does with _ICC_PROFILE), for the real-window tests: xprop sets at
// most 64 elements.
//   set-root-property NAME FILE     the property becomes FILE's bytes (8-bit)
//   set-root-property NAME --remove
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: set-root-property NAME FILE|--remove\n");
    return 2;
  }
  int Screen = 0;
  xcb_connection_t* C = xcb_connect(nullptr, &Screen);
  if (xcb_connection_has_error(C)) {
    std::fprintf(stderr, "set-root-property: no X display\n");
    return 1;
  }
  const xcb_window_t Root = xcb_setup_roots_iterator(xcb_get_setup(C)).data->root;
  const std::string Name = argv[1];
  xcb_intern_atom_reply_t* Atom = xcb_intern_atom_reply(
      C, xcb_intern_atom(C, 0, uint16_t(Name.size()), Name.c_str()), nullptr);
  if (Atom == nullptr) return 1;
  xcb_void_cookie_t Done;
  if (std::strcmp(argv[2], "--remove") == 0) {
    Done = xcb_delete_property_checked(C, Root, Atom->atom);
  } else {
    std::ifstream F(argv[2], std::ios::binary);
    const std::vector<char> Bytes{std::istreambuf_iterator<char>(F), {}};
    if (!F.good() && !F.eof()) return 1;
    Done = xcb_change_property_checked(C, XCB_PROP_MODE_REPLACE, Root, Atom->atom,
                                       XCB_ATOM_CARDINAL, 8, uint32_t(Bytes.size()), Bytes.data());
  }
  std::free(Atom);
  xcb_generic_error_t* Error = xcb_request_check(C, Done);
  const int Status = Error ? 1 : 0;
  std::free(Error);
  xcb_disconnect(C);
  return Status;
}
