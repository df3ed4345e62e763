#pragma once

#include "store/AgentSettings.h"
#include "store/DiaryStore.h"
#include "store/Module1.h"

#include <memory>
#include <string>

namespace zurodid {

// What the whole process shares: created once by main (or a test) and handed to the agent and
// the windows; there are no other globals.
struct ProcessState {
    // The folder source goes to AgentFolder in the body, after every member is constructed,
    // so nothing depends on the order of the declarations below.
    explicit ProcessState(Module1::FolderSource folder, std::shared_ptr<DBEngine> engine)
        : module1(folder), DBEngine(std::move(engine)) {
        AgentFolder = std::move(folder);
    }

    Module1 module1;
    zurodid::AgentSettings AgentSettings;
    zurodid::DiaryStore DiaryStore;
    std::string DatabasePassword;
    Module1::FolderSource AgentFolder;           // the executable's folder, asked at every use
    std::shared_ptr<zurodid::DBEngine> DBEngine; // created once, kept until the process ends
};

} // namespace zurodid
