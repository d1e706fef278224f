#pragma once
// Wheel turns added up into whole notches. Wheels report their turns in
// eighths of a degree, 120 to a notch; high-resolution wheels and touchpads
// report a notch in many small parts, which must make one step, not one each.

#include <cstdint>

class TWheelNotches {
public:
  static constexpr int Notch = 120;
  // A pause this long (milliseconds) drops a part left over from before.
  static constexpr uint64_t PauseMs = 1000;

  // Adds one report (Delta, at Time in milliseconds) and answers the whole
  // notches it completes, signed as Delta. A turn the other way, or one after
  // a pause, starts from nothing.
  int Add(int Delta, uint64_t Time) {
    if ((Delta > 0 && FRest < 0) || (Delta < 0 && FRest > 0) || Time - FLastTime > PauseMs ||
        Time < FLastTime)
      FRest = 0;
    FLastTime = Time;
    FRest += Delta;
    const int Notches = FRest / Notch;
    FRest -= Notches * Notch;
    return Notches;
  }
  void Reset() { FRest = 0; }

private:
  int FRest = 0;
  uint64_t FLastTime = 0;
};
