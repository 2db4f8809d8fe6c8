#pragma once
// The output formats and everything that differs between them outside their option frames:
// one table, so a format is added in one place. Code that must treat every format (showing
// its options, setting the writer up) switches on OutputFormat without a default, so a
// format left out there is a compile error.
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

#include "engine/common/ContainerKind.h"

enum class OutputFormat : int16_t { Avi = 0, Mpeg = 1, Wmv = 2, Original = 3 };

struct OutputFormatInfo {
    OutputFormat format;
    const char* name;        // as batch mode names it, e.g. "avi"
    const char* shownName;   // as messages name it, e.g. "AVI"
    const char* extension;   // of the output names proposed for it (Original: with no source loaded)
    int32_t container;       // the writer's container kind; 0 when its own job writes the file
    int saveFilterIndex;     // the save dialog's filter entry (1-based) for it
    const char* skinButton;  // the skin element that chooses it
    bool needsPartner;       // choosing it needs the partner application
};

constexpr std::array<OutputFormatInfo, 4> kOutputFormats{{
    {OutputFormat::Avi, "avi", "AVI", "avi", kContainerAvi, 2, "avibutton", false},
    {OutputFormat::Mpeg, "mpeg", "MPEG", "mpeg", kContainerMpeg, 3, "mpegbutton", true},
    {OutputFormat::Wmv, "wmv", "WMV", "wmv", kContainerWmv, 4, "wmvbutton", true},
    // The source's own container and codecs: OriginalJob rewrites the source's packets, and
    // names and the save dialog take the loaded source's extension.
    {OutputFormat::Original, "original", "Original", "mkv", 0, 6, "originalbutton", false},
}};

constexpr const OutputFormatInfo& formatInfo(OutputFormat format) { return kOutputFormats[size_t(format)]; }

// The format batch mode names `name`, if any.
std::optional<OutputFormat> formatNamed(const QString& name);
// The batch names of every format, in order, e.g. "avi|mpeg|wmv" with separator "|".
QString formatNames(const QString& separator);

// The Original format's container list, as extensions: "" (the source's own container, shown
// as "as the source (.ts)") first, then each container that carries the source's streams as
// they are (`carriers`, in their order), the source's own extension left out.
QStringList originalContainerChoices(const QString& sourceExtension, const QStringList& carriers);
// How the list names a container: its extension in capitals ("MKV", "M2TS"), WebM as written.
QString containerShownName(const QString& extension);
// The item of `choices` whose extension the output name has (after the last dot of its file
// name, case ignored); 0, the source's own, when none has it.
int containerChoiceForName(const QStringList& choices, const QString& path);

// The extensions (no dot, lower case) of the video files the open dialog lists as "All Movie
// Files": those of the three classic formats first (avi, mpg, mpeg, wmv, asf), then every
// other container the reader opens, the containers the source's own format writes among them.
extern const std::array<const char*, 31> kSourceExtensions;
// The open dialog's filter in the "description|patterns|" form: "All Movie Files" with every
// extension of kSourceExtensions, the classic formats' own entries, and every file last.
QString openDialogFilter();
