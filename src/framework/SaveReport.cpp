#include "framework/SaveReport.h"

#include "platform/MessagePopup.h"

std::string FolderNotSyncedText(char const* saved, int error)
{
    return WithReason(
        (std::string(saved != nullptr ? saved : "") + ", but the folder could not be synced").c_str(), error);
}

bool ReportSave(SaveOutcome const& outcome, char const* failure, char const* saved, char const* caption)
{
    if (!outcome.saved)
        MessagePopup(WithReason(failure, outcome).c_str(), caption);
    else if (outcome.folderNotSynced != 0)
        MessagePopup(FolderNotSyncedText(saved, outcome.folderNotSynced).c_str(), caption);
    return outcome.saved;
}
