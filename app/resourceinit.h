#ifndef QUILLON_RESOURCEINIT_H
#define QUILLON_RESOURCEINIT_H

namespace Quillon {

// Registers the images and translations compiled into quillon_core. A static
// library's resources are not registered by themselves when the program that
// links it never names them, so the window calls this before it loads any.
void initResources();

} // namespace Quillon

#endif // QUILLON_RESOURCEINIT_H
