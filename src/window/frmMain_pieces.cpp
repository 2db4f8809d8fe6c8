// The piece list: ranges of the open source that one cut writes as one file, kept in the list's
// order or removed from the source. The rules live in PieceList; here the list is shown, edited
// with its buttons and keys, and handed to the cut as the ranges to write.
#include "jobs/CopyJob.h"
#include "jobs/OriginalJob.h"
#include "window/ErrorPolicy.h"
#include "window/frmMain.h"

namespace {

QPushButton* pieceButton(QWidget* parent, const char* name, const QString& caption, int l, int t, int w) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    placeTwips(b, l, t, w, 345);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

void frmMain::buildPieceControls() {
    FramePieces = new QGroupBox("Pieces", this);
    FramePieces->setObjectName("FramePieces");
    placeTwips(FramePieces, 10320, 510, 2850, 7560);
    lstPieces = new QListWidget(FramePieces);
    lstPieces->setObjectName("lstPieces");
    placeTwips(lstPieces, 90, 300, 2670, 4860);
    cmdAddPiece = pieceButton(FramePieces, "cmdAddPiece", "Add", 90, 5250, 1290);
    cmdRemovePiece = pieceButton(FramePieces, "cmdRemovePiece", "Remove", 1470, 5250, 1290);
    cmdPieceUp = pieceButton(FramePieces, "cmdPieceUp", "Up", 90, 5640, 1290);
    cmdPieceDown = pieceButton(FramePieces, "cmdPieceDown", "Down", 1470, 5640, 1290);
    cmdClearPieces = pieceButton(FramePieces, "cmdClearPieces", "Clear", 90, 6030, 2670);
    optKeepPieces = new QRadioButton("Keep the pieces", FramePieces);
    optKeepPieces->setObjectName("optKeepPieces");
    placeTwips(optKeepPieces, 90, 6480, 2670, 285);
    optRemovePieces = new QRadioButton("Remove the pieces", FramePieces);
    optRemovePieces->setObjectName("optRemovePieces");
    placeTwips(optRemovePieces, 90, 6840, 2670, 285);
    optKeepPieces->setChecked(true);

    connect(cmdAddPiece, &QPushButton::clicked, this, [this] { guardedHandler([this] { cmdAddPiece_Click(); }); });
    connect(cmdRemovePiece, &QPushButton::clicked, this, [this] { cmdRemovePiece_Click(); });
    connect(cmdPieceUp, &QPushButton::clicked, this, [this] { cmdPieceUp_Click(); });
    connect(cmdPieceDown, &QPushButton::clicked, this, [this] { cmdPieceDown_Click(); });
    connect(cmdClearPieces, &QPushButton::clicked, this, [this] { cmdClearPieces_Click(); });
    connect(lstPieces, &QListWidget::currentRowChanged, this,
            [this](int row) { guardedHandler([&] { lstPieces_Click(row); }); });
    connect(lstPieces, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { guardedHandler([&] { lstPieces_Click(lstPieces->row(item)); }); });
    connect(optKeepPieces, &QRadioButton::toggled, this, [this](bool keep) {
        pieces_.setMode(keep ? PieceMode::Keep : PieceMode::Remove);
        showPieceBands();
    });
    showPieces();
}

void frmMain::cmdAddPiece_Click() {
    if (!FileLoaded) return;
    const Piece range{std::min(selection_.marker(1), selection_.marker(2)),
                      std::max(selection_.marker(1), selection_.marker(2))};
    // Pieces never share a frame: a frame kept twice or removed twice is a mistake to show now,
    // not a refusal when the cut starts.
    if (const int other = pieces_.overlapping(range); other >= 0) {
        const Piece& p = pieces_.pieces()[other];
        dialogs().MsgBox(Messages[Msg::PieceOverlaps].arg(other + 1).arg(p.first).arg(p.last), MsgButtons::Ok);
        return;
    }
    pieces_.add(range.first, range.last);
    showPieces();
}

void frmMain::cmdRemovePiece_Click() {
    if (pieces_.removeSelected()) showPieces();
}

void frmMain::cmdPieceUp_Click() {
    if (pieces_.moveUp()) showPieces();
}

void frmMain::cmdPieceDown_Click() {
    if (pieces_.moveDown()) showPieces();
}

void frmMain::cmdClearPieces_Click() {
    pieces_.clear();
    showPieces();
}

// Choosing a piece (clicking it, also again, or stepping to it in the list) moves the markers to
// its first and last frame, which shows its first frame.
void frmMain::lstPieces_Click(int row) {
    if (showingPieces_) return;
    pieces_.select(row);
    showPieceButtons();
    if (pieces_.selected() < 0 || !FileLoaded) return;
    const Piece& p = pieces_.pieces()[pieces_.selected()];
    setMarker(2, p.last);
    setMarker(1, p.first);
}

void frmMain::setPieceList(const PieceList& list) {
    pieces_ = list;
    showPieces();
}

void frmMain::showPieces() {
    showingPieces_ = true;
    lstPieces->clear();
    for (const Piece& p : pieces_.pieces())
        lstPieces->addItem(p.length() == 1 ? Messages[Msg::PieceItemOneFrame].arg(p.first)
                                           : Messages[Msg::PieceItem].arg(p.first).arg(p.last).arg(p.length()));
    lstPieces->setCurrentRow(pieces_.selected());
    (pieces_.mode() == PieceMode::Keep ? optKeepPieces : optRemovePieces)->setChecked(true);
    showingPieces_ = false;
    showPieceButtons();
    showPieceBands();
}

// The pieces on the timeline strip, in the colour of what the cut does with them.
void frmMain::showPieceBands() {
    const auto kind =
        pieces_.mode() == PieceMode::Keep ? TimelineStrip::BandKind::Kept : TimelineStrip::BandKind::Removed;
    std::vector<TimelineStrip::Band> bands;
    for (const Piece& p : pieces_.pieces()) bands.push_back({p.first, p.last, kind});
    Timeline1->setBands(std::move(bands));
}

void frmMain::showPieceButtons() {
    const bool chosen = pieces_.selected() >= 0;
    cmdAddPiece->setEnabled(FileLoaded);
    cmdRemovePiece->setEnabled(chosen);
    cmdPieceUp->setEnabled(chosen && pieces_.selected() > 0);
    cmdPieceDown->setEnabled(chosen && pieces_.selected() + 1 < pieces_.size());
    cmdClearPieces->setEnabled(!pieces_.empty());
}

void frmMain::setPieceCaptions(const std::function<QString(int)>& caption) {
    FramePieces->setTitle(caption(Caption::Pieces));
    cmdAddPiece->setText(caption(Caption::AddPiece));
    cmdRemovePiece->setText(caption(Caption::RemovePiece));
    cmdPieceUp->setText(caption(Caption::PieceUp));
    cmdPieceDown->setText(caption(Caption::PieceDown));
    cmdClearPieces->setText(caption(Caption::ClearPieces));
    optKeepPieces->setText(caption(Caption::KeepPieces));
    optRemovePieces->setText(caption(Caption::RemovePieces));
    showPieces();  // the items' text comes from the language too
}

// The list belongs to the source it was made on.
void frmMain::piecesSourceChanged() {
    pieces_.clear();
    showPieces();
}

std::unique_ptr<Job> frmMain::makePiecesJob() {
    const int32_t frames = selection_.lastFrame();
    if (const auto problems = pieces_.problems(frames); !problems.empty()) {
        const PieceProblemTexts texts{Messages[Msg::PieceReversed], Messages[Msg::PieceOutside],
                                      Messages[Msg::PiecesOverlap], Messages[Msg::NothingLeft]};
        dialogs().MsgBox(
            Messages[Msg::PiecesRefused].arg(describeProblems(pieces_, problems, frames, texts).join("; ")),
            MsgButtons::Ok);
        return nullptr;
    }
    std::vector<Piece> ranges = pieces_.rangesToWrite(frames);
    if (OutputFormat == ::OutputFormat::Original) {
        auto job = OriginalJob::pieces(VideoFileIn1->openedSource(), std::move(ranges), originalOutputPath());
        job->setContainer(chosenContainer());
        return job;
    }
    return std::make_unique<CopyJob>(CopyJob::pieces(jobReader(), *VideoFileOut, std::move(ranges), outputOpener()));
}
