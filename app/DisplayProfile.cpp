#include "app/DisplayProfile.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct TFree {
  void operator()(void* P) const { std::free(P); }
};
template <class T> using TReply = std::unique_ptr<T, TFree>;

// The X screen Qt's connection uses: the screen number of $DISPLAY.
int DefaultScreenNumber() {
  char* Host = nullptr;
  int Display = 0, Screen = 0;
  const bool Parsed = xcb_parse_display(nullptr, &Host, &Display, &Screen) != 0;
  std::free(Host);
  return Parsed ? Screen : 0;
}

} // namespace

TDisplayProfile::TDisplayProfile(TChanged OnChange)
    : FOnChange(std::move(OnChange)), FCurrent(SRGBColorSpace()) {
  auto* X11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (X11 == nullptr || X11->connection() == nullptr) return;
  xcb_connection_t* C = X11->connection();
  const int Number = DefaultScreenNumber();
  xcb_screen_iterator_t It = xcb_setup_roots_iterator(xcb_get_setup(C));
  for (int I = 0; I < Number && It.rem > 0; ++I)
    xcb_screen_next(&It);
  if (It.rem == 0 || It.data == nullptr) return;
  const std::string Name = Number == 0 ? "_ICC_PROFILE" : "_ICC_PROFILE_" + std::to_string(Number);
  TReply<xcb_intern_atom_reply_t> Atom(xcb_intern_atom_reply(
      C, xcb_intern_atom(C, 0, uint16_t(Name.size()), Name.c_str()), nullptr));
  if (!Atom) return;
  FConnection = C;
  FRoot = It.data->root;
  FAtom = Atom->atom;
  // Property changes of the root window, added to what this client already
  // listens to there.
  TReply<xcb_get_window_attributes_reply_t> Attributes(
      xcb_get_window_attributes_reply(C, xcb_get_window_attributes(C, FRoot), nullptr));
  const uint32_t Mask =
      (Attributes ? Attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_change_window_attributes(C, FRoot, XCB_CW_EVENT_MASK, &Mask);
  xcb_flush(C);
  Read();
  QCoreApplication::instance()->installNativeEventFilter(this);
}

TDisplayProfile::~TDisplayProfile() {
  if (FConnection && QCoreApplication::instance())
    QCoreApplication::instance()->removeNativeEventFilter(this);
}

void TDisplayProfile::Read() {
  FPending = false;
  xcb_connection_t* C = FConnection;
  // At most the largest profile accepted, and one byte more to tell a
  // longer one.
  const uint32_t Words = uint32_t(MaxIccProfileSize / 4 + 1);
  TReply<xcb_get_property_reply_t> Reply(xcb_get_property_reply(
      C, xcb_get_property(C, 0, FRoot, FAtom, XCB_GET_PROPERTY_TYPE_ANY, 0, Words), nullptr));
  std::vector<uint8_t> Bytes;
  std::string Why;
  if (Reply && Reply->type != XCB_NONE) {
    const int Length = xcb_get_property_value_length(Reply.get());
    if (Reply->format != 8 || Reply->bytes_after > 0 || Length <= 0) {
      Why = "the _ICC_PROFILE property is not a profile of at most " +
            std::to_string(MaxIccProfileSize >> 20) + " MB";
      Bytes.assign(1, 0); // unusable, but not "no property"
    } else {
      const auto* Data = static_cast<const uint8_t*>(xcb_get_property_value(Reply.get()));
      Bytes.assign(Data, Data + Length);
    }
  }
  if (Bytes == FBytes) return; // unchanged: the same space stays
  FBytes = std::move(Bytes);
  TColorSpacePtr Space;
  if (!FBytes.empty() && Why.empty()) Space = ColorSpaceFromIcc(FBytes, Why);
  if (!FBytes.empty() && !Space)
    std::fprintf(stderr, "Imbrel: display profile ignored, sRGB assumed: %s\n", Why.c_str());
  FCurrent = Space ? Space : SRGBColorSpace();
}

bool TDisplayProfile::nativeEventFilter(const QByteArray& EventType, void* Message, qintptr*) {
  if (EventType != "xcb_generic_event_t" || Message == nullptr) return false;
  const auto* Event = static_cast<const xcb_generic_event_t*>(Message);
  if ((Event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
  const auto* Notify = reinterpret_cast<const xcb_property_notify_event_t*>(Event);
  if (Notify->window != FRoot || Notify->atom != FAtom || FPending) return false;
  // Read once the event is handled; changes in a burst are read once.
  FPending = true;
  QMetaObject::invokeMethod(
      &FContext,
      [this] {
        const TColorSpacePtr Before = FCurrent;
        Read();
        if (FCurrent != Before && FOnChange) FOnChange(FCurrent);
      },
      Qt::QueuedConnection);
  return false;
}
