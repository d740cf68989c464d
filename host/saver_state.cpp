#include "host/saver_state.h"

SaverState saverState = {
    nullptr, nullptr, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
    0,  // isWin9x
    4,  // wakeThreshold
    0xFFFFFFFFu, {0, 0}, 0, {0, 0, 0, 0}};

void SetSaverRunning(bool on) {
  if (!saverState.isWin9x) return;
  UINT previous = 0;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, on ? 1 : 0, &previous, 0);
}
