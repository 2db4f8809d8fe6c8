#pragma once
// The keys of the language files: [MSGX] messages (indexes of the window's Messages) and
// [frmMain] captions. Keys from kFirstAddedMessage and kFirstAddedCaption on came after the
// first language files: a file without one of them shows the English file's text, so the
// language files users made before keep working.

namespace Msg {
enum : int {
    SplitPointOutOfRange = 0,
    OperationFailed = 1,
    OpenFileFirst = 2,
    ChooseOutputFirst = 3,
    SameFrame = 4,
    OutputNotCreated = 5,
    WaitForJob = 6,
    NoFrameToShow = 7,
    Milliseconds = 8,
    Marker = 9,
    Codec = 10,
    DurationMs = 11,
    BitRate = 12,
    FrameRate = 13,
    Frames = 14,
    FrameSize = 15,
    SampleRate = 16,
    SampleSize = 17,
    Channels = 18,
    CutFinished = 19,
    SplitFinished = 20,
    JobCancelled = 21,
    VideoLength = 22,
    FrameCount = 23,
    Preview = 24,
    NoVideoStream = 25,
    AboutTitle = 26,
    Version = 27,
    Copyright = 28,
    AboutDescription = 29,
    ReadingFile = 30,
    WritingFile = 31,
    AboutCut = 32,
    AboutSplit = 33,
    AboutSaveFrame = 34,
    HelpNotOpened = 35,
    FullScreenPreview = 36,
    EdgesNeedEncoder = 37,  // %1 the codec, %2 and %3 the frames where a cut may begin and end
    TimelineUse = 38,       // the timeline strip's tooltip: what click, drag and the wheel do
    KeyFrameMove = 39,      // the keys' descriptions in that tooltip
    SecondMove = 40,
    FirstLastFrame = 41,
    TenthMove = 42,
    PieceOverlaps = 43,  // %1 the piece the markers' range overlaps, %2 and %3 its first and last frame
    PiecesRefused = 44,  // %1 what is wrong with which pieces
    PieceItem = 45,      // a line of the piece list: %1 first frame, %2 last frame, %3 its length in frames
    PieceReversed = 46,  // the refusal's details: %1 the piece, %2 and %3 its first and last frame,
    PieceOutside = 47,   //   %4 the source's last frame
    PiecesOverlap = 48,  //   %4 the other piece, %5 and %6 its first and last frame
    NothingLeft = 49,
    SplitNeedsEncoder = 50,  // %1 the codec, %2 the frames where a split needs no encoding
    PieceItemOneFrame = 51,  // a line of the piece list for a piece of one frame: %1 the frame
    Count = 52
};
constexpr int kFirstAddedMessage = 35;
}  // namespace Msg

namespace Caption {
enum : int {
    WindowTitle = 0,
    SelectInputFile = 6,
    SaveFrame = 7,
    SelectOutputFile = 8,
    Cut = 9,
    Split = 10,
    Cancel = 11,
    VideoInformation = 12,
    AudioInformation = 13,
    VideoFormat = 14,
    AudioFormat = 15,
    MpegVersion = 16,
    OutputVideoFormat = 17,
    Language = 18,
    FrameRate = 19,
    VideoBitrate = 20,
    Channels = 21,
    AudioBitrate = 22,
    AviCodec = 23,
    ConfigureCodec = 24,
    About = 25,
    Exit = 26,
    ViewSizeFirst = 27,
    ViewSizeSecond = 28,
    Play = 29,
    Stop = 30,
    UsingSlider = 31,
    Original = 32,             // the format's button and the name of its save-dialog entry
    OriginalFrame = 33,        // the title of its option frame
    OriginalExplanation = 34,  // the line in that frame
    Container = 35,            // the label of its container list
    AsTheSource = 36,          // the list's first item, %1 the source's extension
    Pieces = 37,               // the piece list's frame and its controls
    AddPiece = 38,
    RemovePiece = 39,
    PieceUp = 40,
    PieceDown = 41,
    ClearPieces = 42,
    KeepPieces = 43,
    RemovePieces = 44,
};
constexpr int kFirstAddedCaption = 32;
}  // namespace Caption
