// Face and eye search with OpenCV's Haar cascades (opencv-data): the face on a copy of
// the photo reduced to at most 640 pixels, its eyes at the photo's own resolution.
//
// This file alone is libsnapix-faces.so, the module the programs load on their first
// face search (photocut/FaceFinder.cpp): OpenCV and the libraries it pulls in (some
// twenty) then cost nothing to a start that finds no face, such as a photograph taken
// by snapix-shot.
#include "photocut/FaceFinder.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

namespace {

// Where a frontal face cascade's box has the eyes, as shares of the box (measured on
// the frontal-face cascade's boxes of the test portrait against its landmarks).
constexpr double kEyeX = 0.27;
constexpr double kEyeY = 0.37;
// The face is searched on a copy no larger than this: a face in an identity photo fills
// a good part of the frame, and the search time grows with the pixels.
constexpr int kSearchSide = 640;
// Eyes are searched in a copy of the face this wide.
constexpr int kEyeFaceWidth = 200;

struct TCascades {
    cv::CascadeClassifier Face;
    cv::CascadeClassifier Eye;
    bool Loaded = false;
};

// Guards the cascades: a classifier keeps per-search state, so searches take turns.
std::mutex gMutex;

TCascades& Cascades() {
    static TCascades cascades;
    static const bool once = [] {
        // The program reads no file it is not asked for: a missing cascade is a broken
        // installation, said as such.
        cascades.Loaded =
            cascades.Face.load(SNAPIX_CASCADE_DIR "/haarcascade_frontalface_alt2.xml") &&
            cascades.Eye.load(SNAPIX_CASCADE_DIR "/haarcascade_eye.xml");
        return true;
    }();
    (void)once;
    return cascades;
}

cv::Mat GreyOf(const QImage& photo) {
    QImage source = photo;
    int code = cv::COLOR_BGR2GRAY;
    if (photo.format() == QImage::Format_RGB888) {
        code = cv::COLOR_RGB2GRAY;
    } else if (photo.format() != QImage::Format_BGR888) {
        source = photo.convertToFormat(QImage::Format_BGR888);
    }
    const cv::Mat colour(source.height(), source.width(), CV_8UC3,
                         const_cast<uchar*>(source.constBits()), size_t(source.bytesPerLine()));
    cv::Mat grey;
    cv::cvtColor(colour, grey, code);
    return grey;
}

// The middle of the dark iris inside an eye box: the centroid of the darkest tenth of
// its inner part (the box itself centres on brows and lids as much as on the eye).
cv::Point2d IrisCentre(const cv::Mat& grey, const cv::Rect& eye) {
    const cv::Rect inner =
        cv::Rect(eye.x + eye.width / 5, eye.y + eye.height / 4, eye.width * 3 / 5, eye.height / 2) &
        cv::Rect(0, 0, grey.cols, grey.rows);
    const cv::Point2d middle(eye.x + eye.width / 2.0, eye.y + eye.height / 2.0);
    if (inner.width < 4 || inner.height < 4) {
        return middle;
    }
    cv::Mat smooth;
    cv::GaussianBlur(grey(inner), smooth, cv::Size(3, 3), 0);
    int histogram[256] = {};
    for (int y = 0; y < smooth.rows; ++y) {
        for (int x = 0; x < smooth.cols; ++x) {
            ++histogram[smooth.at<uchar>(y, x)];
        }
    }
    const int wanted = std::max(1, smooth.rows * smooth.cols / 10);
    int level = 0;
    for (int count = 0; level < 256 && count + histogram[level] < wanted; ++level) {
        count += histogram[level];
    }
    double sx = 0, sy = 0, n = 0;
    for (int y = 0; y < smooth.rows; ++y) {
        for (int x = 0; x < smooth.cols; ++x) {
            if (smooth.at<uchar>(y, x) <= level) {
                sx += x;
                sy += y;
                n += 1;
            }
        }
    }
    return n > 0 ? cv::Point2d(inner.x + sx / n + 0.5, inner.y + sy / n + 0.5) : middle;
}

// The eyes inside `face` (photo pixels): the best eye detection in each half of the
// face's upper part, nearest to where a face box has its eyes. False when either half
// has none.
bool FindEyes(cv::CascadeClassifier& cascade, const cv::Mat& grey, const cv::Rect& face,
              QPointF& left, QPointF& right) {
    const cv::Rect band =
        cv::Rect(face.x, face.y + face.height * 15 / 100, face.width, face.height * 45 / 100) &
        cv::Rect(0, 0, grey.cols, grey.rows);
    if (band.width < 16 || band.height < 8) {
        return false;
    }
    const double scale = double(kEyeFaceWidth) / face.width;
    cv::Mat roi;
    cv::resize(grey(band), roi, cv::Size(), scale, scale,
               scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::equalizeHist(roi, roi);
    std::vector<cv::Rect> eyes;
    cascade.detectMultiScale(roi, eyes, 1.1, 3, 0, cv::Size(kEyeFaceWidth / 9, kEyeFaceWidth / 9),
                             cv::Size(kEyeFaceWidth / 3, kEyeFaceWidth / 3));
    const double expectY = (kEyeY - 0.15) * face.height * scale;
    const double expectX[2] = {kEyeX * face.width * scale, (1 - kEyeX) * face.width * scale};
    double best[2] = {1e18, 1e18};
    QPointF found[2];
    for (const cv::Rect& e : eyes) {
        const cv::Point2d c = IrisCentre(roi, e);
        const double cx = c.x;
        const double cy = c.y;
        const int side = cx < roi.cols / 2.0 ? 0 : 1;
        const double d = std::hypot(cx - expectX[side], cy - expectY);
        if (d < best[side]) {
            best[side] = d;
            found[side] = QPointF(band.x + cx / scale, band.y + cy / scale);
        }
    }
    if (best[0] == 1e18 || best[1] == 1e18) {
        return false;
    }
    left = found[0];
    right = found[1];
    return true;
}

TFaceFind Find(const QImage& photo) {
    TFaceFind result;
    if (photo.isNull()) {
        return result;
    }
    std::lock_guard<std::mutex> lock(gMutex);
    TCascades& cascades = Cascades();
    if (!cascades.Loaded) {
        result.Error =
            QStringLiteral("无法读取人脸识别数据 (%1)").arg(QStringLiteral(SNAPIX_CASCADE_DIR));
        return result;
    }
    // Our own threads do the work; OpenCV's pool would only compete with them.
    cv::setNumThreads(1);
    const cv::Mat grey = GreyOf(photo);

    // A small face in a large photograph is missed on the reduced copy: a second look at
    // twice the size finds it (only a photograph without a face pays for both).
    double shrink = 1;
    std::vector<cv::Rect> faces;
    const cv::Ptr<cv::CLAHE> clahe = cv::createCLAHE(2.0, cv::Size(8, 8));
    for (const int side : {kSearchSide, 2 * kSearchSide}) {
        shrink = std::min(1.0, double(side) / std::max(grey.cols, grey.rows));
        cv::Mat search;
        if (shrink < 1) {
            cv::resize(grey, search, cv::Size(), shrink, shrink, cv::INTER_AREA);
        } else {
            search = grey.clone();
        }
        // Contrast evened out tile by tile: equalising the whole histogram lets a plain
        // wall that fills most of the frame squeeze the face into a few levels, and the
        // cascade then misses a face that is small in a wide photograph.
        clahe->apply(search, search);
        const int minSide = std::max(24, std::min(search.cols, search.rows) / 16);
        cascades.Face.detectMultiScale(search, faces, 1.1, 3, 0, cv::Size(minSide, minSide));
        if (!faces.empty() || shrink == 1) {
            break;
        }
    }
    if (faces.empty()) {
        return result;
    }
    std::sort(faces.begin(), faces.end(),
              [](const cv::Rect& a, const cv::Rect& b) { return a.area() > b.area(); });

    // A face box without eyes in it is taken for a pattern that looks like a face (a
    // badge, a print on clothes), unless no box has eyes at all.
    struct TCandidate {
        cv::Rect Box;
        QPointF Left, Right;
        bool Eyes;
    };
    std::vector<TCandidate> candidates;
    for (const cv::Rect& f : faces) {
        const cv::Rect box = cv::Rect(int(f.x / shrink), int(f.y / shrink), int(f.width / shrink),
                                      int(f.height / shrink)) &
                             cv::Rect(0, 0, grey.cols, grey.rows);
        TCandidate c{box, {}, {}, false};
        c.Eyes = FindEyes(cascades.Eye, grey, box, c.Left, c.Right);
        candidates.push_back(c);
    }
    const auto withEyes = std::count_if(candidates.begin(), candidates.end(),
                                        [](const TCandidate& c) { return c.Eyes; });
    auto chosen = candidates.begin();
    if (withEyes > 0) {
        chosen = std::find_if(candidates.begin(), candidates.end(),
                              [](const TCandidate& c) { return c.Eyes; });
        result.Count = int(withEyes);
    } else {
        result.Count = int(candidates.size());
    }
    const cv::Rect& box = chosen->Box;
    result.Face = QRectF(box.x, box.y, box.width, box.height);
    result.EyesFound = chosen->Eyes;
    if (chosen->Eyes) {
        result.LeftEye = chosen->Left;
        result.RightEye = chosen->Right;
    } else {
        result.LeftEye = QPointF(box.x + kEyeX * box.width, box.y + kEyeY * box.height);
        result.RightEye = QPointF(box.x + (1 - kEyeX) * box.width, box.y + kEyeY * box.height);
    }
    return result;
}

}  // namespace

// The module's two entry points, the only symbols it shows. The version keeps a module
// of another build (a stale copy beside the program) from being called with our types.
extern "C" __attribute__((visibility("default"))) const char* snapix_faces_version() {
    return SNAPIX_VERSION;
}

extern "C" __attribute__((visibility("default"))) void snapix_find_faces(const QImage* photo,
                                                                         TFaceFind* result) {
    *result = Find(*photo);
}
