// Which shading loop this process runs, decided once per start.
#pragma once

// Decides whether the vector loop may run here, tells ShadeRect, and returns
// the choice: true for SSE2.
bool ChooseShadeLoop();
