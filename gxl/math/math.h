// Everything of the math library that other subsystems call.
#pragma once

#include "gxl/math/color.h"
#include "gxl/math/cpu_detect.h"
#include "gxl/math/dispatch.h"
#include "gxl/math/half.h"
#include "gxl/math/matrix.h"
#include "gxl/math/noise.h"
#include "gxl/math/plane.h"
#include "gxl/math/quaternion.h"
#include "gxl/math/records.h"
#include "gxl/math/scalar.h"
#include "gxl/math/services.h"
#include "gxl/math/vector.h"
#include "gxl/math/vertex_ops.h"
