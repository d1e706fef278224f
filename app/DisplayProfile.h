#pragma once
// The display's colour space: the ICC profile in the X root window's
// _ICC_PROFILE property (_ICC_PROFILE_<n> for X screen n > 0), read at start
// and again whenever a colour manager changes it. Without X, without the
// property or with a profile that cannot be used, the display is taken as
// sRGB (an unusable profile says so in one warning line).
//
// Runs on the GUI thread only: the property is read through Qt's own xcb
// connection and its changes arrive as PropertyNotify events of the root
// window, seen by a native event filter.

#include "imaging/ColorTransform.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TDisplayProfile final : public QAbstractNativeEventFilter {
public:
  using TChanged = std::function<void(const TColorSpacePtr& Space)>;

  // Reads the profile now and watches for changes, which reach OnChange (on
  // the GUI thread, after the event that announced them).
  explicit TDisplayProfile(TChanged OnChange);
  ~TDisplayProfile() override;
  TDisplayProfile(const TDisplayProfile&) = delete;
  TDisplayProfile& operator=(const TDisplayProfile&) = delete;

  // The display's colour space now (sRGB when there is no usable profile).
  const TColorSpacePtr& Current() const { return FCurrent; }
  // Whether an X connection is watched.
  bool Watching() const { return FConnection != nullptr; }

  bool nativeEventFilter(const QByteArray& EventType, void* Message, qintptr* Result) override;

private:
  void Read();

  TChanged FOnChange;
  TColorSpacePtr FCurrent;
  std::vector<uint8_t> FBytes; // the property's bytes last read
  struct xcb_connection_t* FConnection = nullptr;
  uint32_t FRoot = 0;
  uint32_t FAtom = 0;
  bool FPending = false; // a re-read is queued
  QObject FContext;      // queued re-reads die with this object
};
