#include "engine/remux/RemuxCut.h"

#include "engine/common/MediaError.h"

struct RemuxCut::Impl {};

RemuxCut::RemuxCut(const QString& sourcePath) : impl_(std::make_unique<Impl>()) {
    throw MediaError(QStringLiteral("Writing in the source's format is being built"));
}
RemuxCut::~RemuxCut() = default;
int32_t RemuxCut::frameCount() const { return 0; }
QString RemuxCut::codecName() const { return {}; }
bool RemuxCut::canWrite(int32_t, int32_t) const { return false; }
CopyableEdges RemuxCut::copyableEdges(int32_t, int32_t) const { return {}; }
void RemuxCut::begin(const QString&, int32_t, int32_t) {}
bool RemuxCut::step() { return false; }
void RemuxCut::close() {}
int32_t RemuxCut::currentFrame() const { return 0; }
const RemuxStats& RemuxCut::stats() const {
    static RemuxStats none;
    return none;
}
