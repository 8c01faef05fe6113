#pragma once
// The application host: the object a plug-in lives in.
//
// It owns the list of input image files, one parameter set per input, the state of the current
// input, the colour profile of the last image read, the queued user messages, the progress
// counters and the host lock.  Its virtual operations are the contract with the plug-in, which
// derives from it: the framework drives them from the viewer (interactive preview) and from the
// batch (OK renders every input in tiles and writes it over its own file).
//
// Threads.  The user-interface thread (the one that constructed or last reset the host) runs
// everything interactively.  During the batch one worker thread runs processInputs and everything
// it calls, while the user-interface thread only runs the modal progress window.  The batch thread
// may hand the reading of the next input and the writing of the previous one to two helper
// threads of its own; they touch only the files and the images they were given, never the host.  The host lock
// guards the queued message text, the progress counters and the progress window pointer; the two
// threads talk only through posted events and that lock.  Windows and message boxes are touched
// on the user-interface thread only: any other thread's messages are queued and shown later.
//
// Parameter sets.  The windows stay bound to one set object, the live one: switching inputs copies
// the new input's values into it and parks the previous values in a fresh copy.  The list of sets
// always has one entry per input (at least one), so no input index reads past it.

#include <lcms2.h>

#include <wx/arrstr.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/app/app_parameters.h"
#include "host/app/image_io.h"
#include "host/system/critical_section.h"
#include "host/system/image_buffer.h"
#include "host/system/rect.h"
#include "host/system/system_host.h"

class wxFrame;
class wxWindow;

namespace Mav::Host {

// Receives progress in place of the progress window while the host is in preview mode (the
// viewer's background renderer installs one).  Both may throw Mav::Interrupted to cancel the
// render that reports.
class ProxyProgress {
public:
    virtual ~ProxyProgress();
    virtual void tick(std::uint64_t key) = 0;
    virtual void report(std::uint64_t key, std::uint64_t done, std::uint64_t total) = 0;
};

namespace App {

class ProgressDialog;

using System::ImageBuffer;
using System::Rect;

// Images of extra inputs handed to a render (the viewer's layer images); owned by the list.
using ImageList = std::vector<std::unique_ptr<ImageBuffer>>;

// An extra input that a render needs: which input (a source selector as for reading inputs) and
// the region of it.
struct InputRequest {
    std::uint64_t source = 0;
    Rect rect;
};
using InputRequestList = std::vector<InputRequest>;

// One level of nested progress: units done, units in all, and how many units of this level one
// complete report of the level inside stands for.  A total of 0 or 1 makes the level transparent.
struct ProgressLevel {
    std::uint64_t done = 0;
    std::uint64_t total = 0;
    std::uint64_t step = 0;
};

// The levels the batch uses: inputs outermost, tiles inside them.  Levels 0 and 1 are for deeper
// callers.
inline constexpr int kProgressLevels = 4;
inline constexpr int kInputLevel = 3;
inline constexpr int kTileLevel = 2;

class Host : public System::Host, public SubjectImageHost {
public:
    Host();
    ~Host() override;
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // ---- The plug-in interface, with the framework's defaults.

    // True selects the perceptual rendering intent for colour conversions, false relative
    // colorimetric.
    virtual bool usePerceptualIntent() const;
    // A new set of the plug-in's type holding the same values (and host); the host owns it.
    virtual std::unique_ptr<Parameters> cloneParameters(const Parameters& set);
    // A new empty set of the plug-in's type bound to this host.
    virtual std::unique_ptr<Parameters> createParameters();
    // Appends the plug-in's records, in index order, with their defaults.
    virtual void describeParameters(Parameters& set) = 0;
    // Drops whatever the plug-in cached for the previous input.
    virtual void invalidateCaches();
    // Per-frame preparation before `output` of the current input is analysed and rendered.
    virtual void prepare(Parameters& set, const Rect& output);
    // An analysis pass over `output`, after prepare and before render.
    virtual void analyse(Parameters& set, const Rect& output);
    // Renders the output image's bounds from the input image.  `scratch` is an empty buffer that
    // the plug-in may allocate into; `extraInputs` holds the images requiredInputRect asked for,
    // or is null (the batch).  The result is not used.
    virtual bool render(Parameters& set, ImageBuffer& input, ImageBuffer& output,
                        ImageBuffer& scratch, ImageList* extraInputs) = 0;
    // prepare, analyse and render over the output's bounds, unless they are empty.
    virtual void renderRect(Parameters& set, ImageBuffer& input, ImageBuffer& output,
                            ImageBuffer& scratch, ImageList* extraInputs);
    virtual void spareHookA();
    // The input region a render of `output` needs (the output itself by default); an override
    // widens it by its filter margins and may append extra inputs to `extraInputs`.
    virtual Rect requiredInputRect(Parameters& set, const Rect& output, const Rect& domain,
                                   InputRequestList& extraInputs);
    virtual Rect spareRectHook(Parameters& set, const Rect& rect, const Rect& domain,
                               InputRequestList& extraInputs);
    virtual const char* vendorId() const;
    virtual const char* vendorName() const;
    virtual int spareQueryA() const;
    virtual int spareQueryB() const;
    virtual int spareQueryC() const;
    virtual void spareHookB();
    virtual int spareQueryD() const;
    virtual const char* nameSuffix() const;
    // False makes every image read 8 bits per channel.
    virtual bool supportsHighBitDepth() const;
    // False limits the batch to one input and forbids switching inputs.
    virtual bool supportsMultipleInputs() const;
    // True keeps one parameter set per input; false shares set 0.
    virtual bool perInputParameters() const;
    // The plug-in answers its preview flag; the framework's host is never in preview mode.
    bool isPreviewMode() const override;
    // True keeps the tile size (which an override may set); false renders the rectangle whole.
    virtual bool wantsTiles(const Rect& rect, std::int32_t& tileWidth, std::int32_t& tileHeight);
    // The tile size of the batch; starts from the caller's 256 x 256.
    virtual void tileSize(const Rect& rect, std::int32_t& tileWidth, std::int32_t& tileHeight);
    // Whether a change of a ParamAffectsAll record alters other records.
    virtual bool linksParameters() const;
    virtual void updateLinkedParameters(Parameters& set, std::size_t index);

    // ---- State.

    // Back to the starting state, keeping the main frame, the input list, the parameter sets and
    // the registry root.  The calling thread becomes the user-interface thread.
    void reset();

    // ---- Inputs and parameter sets.

    // Appends the paths, in order, that name no file already in the list: a file reached again
    // (another spelling of its path, a symbolic or hard link to it) would be keyed and written
    // twice.  Files are told apart by device and inode, paths that name nothing that can be
    // examined by their absolute form with links resolved.  Returns how many were added.
    std::uint64_t addInputFiles(const wxArrayString& paths);
    bool addInputFile(const wxString& path);
    std::uint64_t inputCount() const { return inputs_.size(); }
    const wxArrayString& inputFiles() const { return inputs_; }
    // The path of input `index` as UTF-8 (file names are handed to the image library as UTF-8);
    // empty when there is no such input.
    std::string inputPath(std::uint64_t index) const;
    // Registers the toolkit's image handlers, gives every input its (empty) entry and selects the
    // current input.
    void initInputs();
    // Makes sure the set of an input exists: a new set is described, read from the store when a
    // registry root is set and, with per-input sets, given the current input's values.  An index
    // past the input list is ignored.
    void ensureParameters(std::uint64_t index);
    // Makes an input current (see the header comment).  An index past the input list is ignored.
    void selectInput(std::uint64_t index);
    // The "<" and ">" handler: selects `index` (unless it is current), enables the buttons for
    // it (either may be null) and starts the viewer afresh on the new input.
    template <class Viewer>
    void stepInput(Viewer* viewer, std::uint64_t index, wxWindow* previous, wxWindow* next) {
        if (!stepInputSelect(index, previous, next)) return;
        if (viewer) viewer->resetViewForInput();
    }
    std::uint64_t currentInput() const { return currentInput_; }
    // The set of an input (per-input sets) or the shared set; null until it is made.
    Parameters* parameters(std::uint64_t index) const;
    Parameters* currentParameters() const { return parameters(currentInput_); }
    std::uint64_t parameterSetCount() const { return sets_.size(); }

    // ---- The current input's image rectangle.

    // Stores the rectangle of input `index` when it is the current one.
    void recordBounds(const Rect& rect, std::uint64_t index);
    void invalidateBounds() { boundsValid_ = false; }
    // {0, 0, width, height} of the current input at full resolution; reads the file's header
    // when the recorded rectangle is stale; {0, 0, 0, 0} when there is no readable file.
    Rect currentBounds();
    // The scale that fits the current input into `rect` (the viewer's fit-to-window zoom).
    float fitScale(const Rect& rect);
    // Reads the header of input `index`; its only lasting effect is the recorded rectangle.
    void probeInput(std::uint64_t index);

    // ---- Colour profile of the last image read (owned).

    void setColourProfile(cmsHPROFILE profile);
    cmsHPROFILE colourProfile() const { return colourProfile_; }

    // ---- Render state.

    float pixelScale() const { return pixelScale_; }
    void setPixelScale(float scale) { pixelScale_ = scale; }
    bool previewFlag() const { return previewFlag_; }
    void setPreviewFlag(bool preview) { previewFlag_ = preview; }
    // Null: parameters do not persist.  Not owned.
    const char* registryRoot() const { return registryRoot_; }
    void setRegistryRoot(const char* root) { registryRoot_ = root; }

    // ---- Main window.

    // Stores the frame, maximises it, makes it the owner of message boxes and shows it.
    bool attachUi(wxFrame* frame);
    // Forgets the message owner and asks an attached frame to destroy itself.
    void closeUi();
    wxFrame* mainFrame() const { return mainFrame_; }
    wxWindow* messageParent() const { return messageParent_; }

    // ---- User messages (flags and results as in message_box.h).

    // While a progress window is up, or on any thread but the user-interface thread, the text is
    // queued (caption and flags dropped) and the result is 0; otherwise a box is shown.
    int showMessage(const std::string& text, const std::string& caption, int flags);
    // Appends the text to the queue ("\n" between messages).
    void queueMessage(const std::string& text);
    // Shows the queued text, if any, in one box captioned "Error" with an OK button, or queues it
    // again when showMessage would.
    void flushMessages();
    // The queued text, emptied.
    std::string takeMessages();

    // ---- Progress (any thread; bands pass the key the fork-join runner gave them).

    // One more unit of indeterminate work.
    void tickProgress(std::uint64_t key) override;
    // The innermost position is done of total; folded through the four levels.
    void reportProgress(std::uint64_t key, std::uint64_t done, std::uint64_t total) override;
    ProgressLevel& progressLevel(int level) { return levels_[level]; }
    const ProgressLevel& progressLevel(int level) const { return levels_[level]; }
    // The folded counters the progress window shows.
    void progressCounters(std::uint64_t& done, std::uint64_t& total);
    void setProxyProgress(ProxyProgress* sink) { proxyProgress_ = sink; }
    ProxyProgress* proxyProgress() const { return proxyProgress_; }
    // Set by closing or cancelling the progress window; the next progress report of the batch
    // then throws Mav::Interrupted.
    void requestAbort() { abortFlag_ = true; }
    bool abortRequested() const { return abortFlag_; }
    // Throws Mav::Interrupted when an abort was requested (and the host is not in preview mode).
    void throwIfAborted() const;
    // True from the start of a batch until its thread has been joined; renders on the
    // user-interface thread (the viewer's paint) must not run meanwhile.
    bool batchRunning() const { return batchRunning_; }

    ProgressDialog* progressWindow();
    System::CriticalSection& hostLock() { return hostLock_; }

    // ---- The batch (OK).

    // Refreshes and saves the current set, gives every input a set and runs the batch; returns
    // after the batch thread has ended.  User-interface thread only.
    void commit();
    // Shows the progress window while the batch thread runs, then closes the main window, joins
    // the thread and shows the messages queued meanwhile.
    void runBatch();
    // The batch thread's work: every input selected, rendered in tiles and written.
    void processInputs();
    // Renders the current input whole, tile by tile, and writes it over its own file.
    void renderInTiles(Parameters& set);
    // How many inputs the batch holds at once, 1 to 3 (3 at the start): with 3 the next input is
    // read and the previous one written while one renders, each on a thread of its own; with 2
    // only the writing overlaps; with 1 every input is read, rendered and written in turn on the
    // batch thread.  Fewer are held when the machine's available memory would not hold them.
    void setBatchDepth(int depth);
    int batchDepth() const { return batchDepth_; }
    // The available memory, in bytes, the batch plans how many inputs to hold with; 0 (the start):
    // what the system reports when the batch starts.
    void setBatchMemory(std::uint64_t bytes) { batchMemory_ = bytes; }
    std::uint64_t batchMemory() const { return batchMemory_; }
    // The current input's image as the batch read it at full resolution, which reads of the
    // current input use instead of its file while it is held; null: none.  Batch thread only.
    void holdDecodedInput(const ImageBuffer* image);

    bool onUiThread() const { return std::this_thread::get_id() == uiThread_; }

    // ---- What reading and writing subject images need of the host (image_io.h).

    std::size_t subjectInputCount() const override;
    std::string subjectInputPath(std::size_t index) const override;
    std::size_t subjectCurrentInput() const override;
    void subjectRecordBounds(System::Rect bounds, std::size_t index) override;
    System::Rect subjectCurrentBounds() override;
    bool subjectPreviewFlag() const override;
    bool subjectHighBitDepth() const override;
    bool subjectPerceptualIntent() const override;
    void subjectTakeProfile(ProfileHandle profile) override;
    const ImageBuffer* subjectDecodedImage(std::size_t index) const override;

private:
    bool stepInputSelect(std::uint64_t index, wxWindow* previous, wxWindow* next);
    // max(1, input count): the number of entries the set list must have.
    std::uint64_t setSlots() const;
    void growSets();
    std::uint64_t setIndex(std::uint64_t inputIndex) const;
    // The window that showMessage would use as the owner of a box now; false when it must queue.
    bool mayShowBoxes();
    void postRefreshLocked();
    static void batchEntry(void* host);

    std::string queuedMessages_;
    wxWindow* messageParent_ = nullptr;
    wxFrame* mainFrame_ = nullptr;
    cmsHPROFILE colourProfile_ = nullptr;
    wxArrayString inputs_;
    std::vector<std::unique_ptr<Parameters>> sets_;
    Rect currentBounds_;
    std::uint64_t currentInput_ = 0;
    float pixelScale_ = 1.0f;
    const char* registryRoot_ = nullptr;
    bool boundsValid_ = false;
    std::atomic<bool> previewFlag_{false};
    std::atomic<bool> abortFlag_{false};
    std::atomic<bool> batchRunning_{false};
    ProgressDialog* progressWindow_ = nullptr;  // guarded by the host lock
    std::uint64_t done_ = 0;                    // guarded by the host lock
    std::uint64_t total_ = 0;                   // guarded by the host lock
    ProxyProgress* proxyProgress_ = nullptr;
    System::CriticalSection hostLock_;
    ProgressLevel levels_[kProgressLevels];
    std::thread::id uiThread_;
    int batchDepth_ = 3;
    std::uint64_t batchMemory_ = 0;
    const ImageBuffer* decodedInput_ = nullptr;  // held for input decodedIndex_
    std::uint64_t decodedIndex_ = 0;
};

}  // namespace App
}  // namespace Mav::Host
