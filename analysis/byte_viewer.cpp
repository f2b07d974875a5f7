#include "analysis/byte_viewer.h"

namespace quorvant {

// FIXME: the byte viewer is not built yet.
ViewerExit RunByteViewer(AppState&) { return ViewerExit::Return; }

}  // namespace quorvant
