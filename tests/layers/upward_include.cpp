// Compiled as the image layer is compiled: its own headers and the tools layer's are found,
// a header of the programmers layer above it is not.
#include "image/unit_types.h"
#include "tools/text.h"

#include "programmers/process_view.h"
