// The virtual camera's models.
#include "capture/VirtualCameraModels.h"

#include <algorithm>
#include <sstream>

#include <linux/videodev2.h>

namespace vcam {

const std::vector<TModel>& Models() {
    static const std::vector<TModel> models = {
        // A common 1080p webcam: uncompressed pictures are slow at the large sizes, where
        // the USB bus cannot carry them faster; Motion-JPEG runs 30 fps everywhere.
        {"1080p",
         "virtual:0",
         "Snapix Virtual Camera",
         {{V4L2_PIX_FMT_YUYV,
           "YUYV 4:2:2",
           false,
           {{160, 120, 30}, {320, 240, 30}, {640, 480, 30}, {1280, 720, 10}, {1920, 1080, 5}}},
          {V4L2_PIX_FMT_MJPEG,
           "Motion-JPEG",
           true,
           {{160, 120, 30},
            {320, 240, 30},
            {640, 480, 30},
            {800, 600, 30},
            {1280, 720, 30},
            {1920, 1080, 30}}}},
         V4L2_PIX_FMT_YUYV,
         640,
         480,
         true,
         false},
        {"vga",
         "virtual:vga",
         "Snapix Virtual Camera VGA",
         {{V4L2_PIX_FMT_YUYV,
           "YUYV 4:2:2",
           false,
           {{160, 120, 30}, {176, 144, 30}, {320, 240, 30}, {352, 288, 30}, {640, 480, 30}}}},
         V4L2_PIX_FMT_YUYV,
         640,
         480,
         false,
         false},
        {"mjpeg",
         "virtual:mjpeg",
         "Snapix Virtual Camera MJPEG",
         {{V4L2_PIX_FMT_MJPEG,
           "Motion-JPEG",
           true,
           {{160, 120, 30}, {320, 240, 30}, {640, 480, 30}, {1280, 720, 30}, {1920, 1080, 30}}}},
         V4L2_PIX_FMT_MJPEG,
         1280,
         720,
         false,
         true},
    };
    return models;
}

const TModel* FindModel(const std::string& id) {
    if (id == "1") {
        return &Models().front();
    }
    for (const TModel& model : Models()) {
        if (id == model.id) {
            return &model;
        }
    }
    return nullptr;
}

std::vector<const TModel*> ModelsNamed(const std::string& value) {
    std::vector<const TModel*> named;
    if (value == "all") {
        for (const TModel& model : Models()) {
            named.push_back(&model);
        }
        return named;
    }
    std::istringstream list(value);
    std::string id;
    while (std::getline(list, id, ',')) {
        const TModel* model = FindModel(id);
        if (model && std::find(named.begin(), named.end(), model) == named.end()) {
            named.push_back(model);
        }
    }
    return named;
}

const TSize& NearestSize(const TFormat& format, int width, int height) {
    const auto distance = [width, height](const TSize& s) {
        const int64_t overlap = int64_t(std::min(s.width, width)) * std::min(s.height, height);
        return int64_t(s.width) * s.height + int64_t(width) * height - 2 * overlap;
    };
    return *std::min_element(format.sizes.begin(), format.sizes.end(),
                             [&](const TSize& a, const TSize& b) { return distance(a) < distance(b); });
}

}  // namespace vcam
