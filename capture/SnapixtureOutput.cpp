// The photo output pipeline of TSnapixture: steps from the grabbed frame to the
// stored file.
#include "capture/Snapixture.h"

int TSnapixture::RunOutputPipeline() {
    // Nothing is stored yet: say so rather than pretend a photograph exists.
    Fail(QStringLiteral("照片输出尚未实现, 未保存照片."));
    return 1;
}
