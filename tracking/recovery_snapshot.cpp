#include "tracking/recovery_snapshot.h"

namespace pellix {

Workspace workspace_of(const WorkspaceSnapshot& snapshot) {
    Workspace workspace;
    workspace.active = snapshot.active;
    workspace.sessions.reserve(snapshot.sessions.size());
    for (const SessionSnapshot& session : snapshot.sessions) {
        workspace.sessions.push_back({
            .text = session.text.text(),
            .encoding = session.encoding,
            .line_ending = session.line_ending,
            .path = session.path,
            .draft = session.draft,
            .tab = session.tab,
            .file_version = session.file_version,
            .other_version_of = session.other_version_of,
        });
    }
    return workspace;
}

} // namespace pellix
