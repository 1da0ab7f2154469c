#include "imaging/image_types.h"

const char* DecodeResultName(DecodeResult result) {
    switch (result) {
        case DecodeResult::Ok: return "Ok";
        case DecodeResult::BadFrame: return "BadFrame";
        case DecodeResult::Calibrating: return "Calibrating";
    }
    return "Unknown";
}
