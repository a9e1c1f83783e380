#include "TemporaryProgramFolder.h"

#include "settings/ProgramLocation.h"

TemporaryProgramFolder::TemporaryProgramFolder() {
    ProgramLocation::overrideDirectory(m_folder.path().toStdString());
    ProgramLocation::overrideBaseName("kavrel");
}

TemporaryProgramFolder::~TemporaryProgramFolder() {
    ProgramLocation::overrideDirectory(std::string());
    ProgramLocation::overrideBaseName(std::string());
}
