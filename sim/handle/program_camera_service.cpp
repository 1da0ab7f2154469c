// On Linux a program's simulated cameras run in the program itself: every preset, and
// recordings played under the replay camera's device path.
#include "sim/cameras/process_cameras.h"
#include "sim/handle/simulated_camera_handle.h"

namespace zrf::sim {

CameraService& ProgramCameraService() {
    static ProcessCameraService service({}, true);
    return service;
}

}  // namespace zrf::sim
