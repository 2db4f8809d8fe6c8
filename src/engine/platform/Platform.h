#pragma once
#include <QString>
#include <QStringList>
#include <cstdint>

// The operating-system services the window uses, behind one replaceable object so that
// tests can drive the clock and capture what would be started.
class Platform {
public:
    virtual ~Platform() = default;
    // Milliseconds of a monotonic clock as a wrapping 32-bit count.
    virtual uint32_t GetTickCount();
    // The program's folder: $KORVELIN_PROGRAM_DIR when set, else programFolderBeside() of the
    // executable's folder.
    virtual QString programFolder();
    // The temporary folder, without a trailing separator.
    virtual QString tempFolder();
    // Opens a document with the desktop's default handler.
    virtual bool openDocument(const QString& path);
    // The desktop entry of the program the desktop opens files of a MIME type with ("xchm.desktop"),
    // empty when none is registered or the desktop cannot be asked.
    virtual QString defaultApplicationFor(const QString& mimeType);
    // Starts a program as a separate process, without a shell and without waiting.
    virtual bool startDetached(const QString& program, const QStringList& arguments);
    // Whether the file is a program this system can run: an ELF executable or a script with
    // a "#!" line (an installer for another system is neither).
    virtual bool canRun(const QString& program);
    // Whether the desktop's MIME database (shared-mime-info) knows a file type with the
    // glob pattern `pattern` ("*.pando"): how programs register their file types here.
    virtual bool fileTypeRegistered(const QString& pattern);
};

// Where the program's files are for a program in binaryFolder: the folder itself when it holds them
// (the build tree), else ../share/korvelin beside it when that does (an installed bin/korvelin),
// else the folder itself.
QString programFolderBeside(const QString& binaryFolder);

// The object in use; never null. setPlatform(nullptr) restores the real one.
Platform& platform();
void setPlatform(Platform* replacement);

// Lowers the calling thread's scheduling priority below the window's, for long work in the
// background: when both want the processor, the window's thread runs first and its event loop
// keeps turning. Threads started from this thread later (an encoder's or decoder's) inherit it.
void runBelowWindow();

// Milliseconds from `earlier` to `later` on the wrapping 32-bit tick count: correct across
// the counter's wrap as long as the true difference is below 2^31.
inline int32_t tickDifference(uint32_t later, uint32_t earlier) { return static_cast<int32_t>(later - earlier); }
