#pragma once
// External-device (tape transport) constants. The platform keeps them in a header of their
// own that its main video headers do not include; these are its values.
#ifndef ED_MODE_PLAY
#define ED_MODE_PLAY 4296L
#define ED_MODE_STOP 4297L
#define ED_MODE_FREEZE 4298L
#define ED_MODE_FF 4300L
#define ED_MODE_REW 4301L
#define ED_MODE_STEP 4304L
#endif
#ifndef ED_MODE_STEP_FWD
#define ED_MODE_STEP_FWD ED_MODE_STEP
#endif
#ifndef ED_MODE_STEP_REV
#define ED_MODE_STEP_REV 4905L
#endif
#ifndef ED_MODE_PLAY_FASTEST_FWD
#define ED_MODE_PLAY_FASTEST_FWD 5029L
#define ED_MODE_PLAY_FASTEST_REV 5031L
#endif
#ifndef ED_RAW_EXT_DEV_CMD
#define ED_RAW_EXT_DEV_CMD 5016L
#endif
