#pragma once

#include <QObject>
#include <QPointer>
#include <string>
#include <vector>

#include "exchange/XmlEditList.h"

class EditViewController;
struct ImportRead;

// XML読込: an XML edit list's instances become tags of the open video, as one
// undo step; codes without a team are asked once each, codes the chosen
// window lacks may go into a copy of it, and tags already there are added
// again only when the user says so. CSV読込: the same for a tag CSV (a CSV出力
// export or a session file), the team of each tag its Team column; of a
// damaged file what could be read is offered. The file is read on a worker
// thread under a bar with キャンセル while the screens go on; the merge is
// made once it is read. One import reads at a time.
class TagImport : public QObject {
public:
    explicit TagImport(EditViewController* screen);

    void onTagXMLInput();
    void onTagCSVInput();

private:
    // The file panel of an import, in the open video's folder; `import`
    // reads the file chosen.
    void chooseImportFile(const char* title, const char* extension, const char* kind,
                          void (TagImport::*import)(const std::string&));
    void importEditList(const std::string& path);
    void importTagCsv(const std::string& path);
    // Adds `tags` (in order) to the store as one step, after the question of
    // teams and outside codes, and the one of duplicates; `rows` give the
    // colours of codes put into a copy of the window; `notes` end the report.
    void mergeImported(std::vector<ImportedTag> tags, const std::vector<EditListRow>& rows,
                       const std::string& title, const std::vector<std::string>& notes,
                       const std::vector<MatchPeriod>& periods = {});
    // Reads `path` on a worker thread, then merges it into `video`'s tags.
    void startImport(const std::string& path, bool xml);
    void importRead(const std::string& video, bool xml, ImportRead read);

    EditViewController* screen_;
    // The import being read (its bar and its worker), null when none.
    QPointer<QObject> importRun_;
};
