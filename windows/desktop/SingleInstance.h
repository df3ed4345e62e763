#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

namespace zurodid {

// One agent per folder: a second one would raise every reminder twice. The lock lives in the
// user's runtime folder, named after the agent's folder, and dies with the process.
class SingleInstance {
public:
    explicit SingleInstance(const QString& agentFolder);
    bool IsFirst() const { return first_; }

private:
    std::unique_ptr<QLockFile> lock_;
    bool first_ = false;
};

} // namespace zurodid
