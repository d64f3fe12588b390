// Transfer of a kind-5 image: the DFU tool that the program carries runs as a hidden child
// process on the released serial port; its output lines become progress and report lines.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "catalogue/Catalogue.h"
#include "engine/Exceptions.h"
#include "engine/KECommThread.h"
#include "engine/Notifications.h"
#include "engine/RunState.h"
#include "engine/console/OruConsoleApp.h"
#include "engine/console/OruPipe.h"
#include "engine/console/OruPipeFilters.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Resource.h"
#include "platform/TempFiles.h"

namespace qor {
namespace {

constexpr const char* kToolResource = "update_prog";
constexpr const char* kPackageFileName = "qor_data.zip";
constexpr std::uint32_t kPortReleasePauseMs = 1000;
constexpr std::uint32_t kToolTimeSliceMs = 5;

// A path or port name with a blank would split into two arguments: quote it then.
std::string argument(const std::string& text) {
    return text.find(' ') == std::string::npos ? text : "\"" + text + "\"";
}

void writeFile(const std::string& fileName, const std::uint8_t* data, std::size_t size) {
    std::string error;
    if (!platform::writeWholeFile(fileName, data, size, error)) {
        throw std::runtime_error("Cannot write " + fileName + ": " + error);
    }
}

// The two files of a tool run. They are deleted once the tool has run. A folder made for this
// run alone is removed with them on every path, as no later run would reuse it; in the shared
// temporary directory the fixed names are simply replaced by the next run.
class ToolFiles {
  public:
    explicit ToolFiles(platform::ToolDirectory directory)
        : directory_(std::move(directory)),
          tool_(directory_.path + platform::toolProgramName()),
          package_(directory_.path + kPackageFileName) {}
    ~ToolFiles() {
        if (directory_.ownFolder) {
            remove();
        }
    }
    ToolFiles(const ToolFiles&) = delete;
    ToolFiles& operator=(const ToolFiles&) = delete;

    const std::string& tool() const { return tool_; }
    const std::string& package() const { return package_; }

    // A failed deletion is ignored: the file may still be in use.
    void remove() {
        platform::deleteFile(tool_);
        platform::deleteFile(package_);
        platform::removeToolDirectory(directory_);
    }

  private:
    platform::ToolDirectory directory_;
    std::string tool_;
    std::string package_;
};

std::string hexUpper(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%X", value);
    return buffer;
}

}  // namespace

void TKECommThread::updateByDfuTool(std::int32_t index) {
    TBl3FileHeader header;
    std::uint32_t size = 0;
    std::uint32_t length = 0;
    const std::uint8_t* data = nullptr;
    if (!getFirmware(index, header, size, length, data)) {
        throw EQor(cEX_NO_UPDATE);
    }
    ToolFiles files(platform::createToolDirectory());
    if (!extractResourceToFile(kToolResource, files.tool())) {
        return;
    }
    writeFile(files.package(), data, size);

    switchToPassThrough();
    closePort();
    platform::sleepMs(kPortReleasePauseMs);

    const std::string commandLine = argument(files.tool()) + " --qor -cd 0 -p " + argument(FsPort) +
                                    " -pkg " + argument(files.package());
    runConsoleTool(commandLine, false);
    files.remove();
}

bool TKECommThread::extractResourceToFile(const std::string& resourceName,
                                          const std::string& fileName) {
    const auto bytes = platform::findResource(resourceName);
    writeFile(fileName, bytes.data(), bytes.size());
    if (!platform::makeExecutable(fileName)) {
        throw std::runtime_error("Cannot make " + fileName + " executable");
    }
    return true;
}

bool TKECommThread::runConsoleTool(const std::string& commandLine, bool visible) {
    fOutFilter = nullptr;
    auto pipe = std::make_unique<TOruPipe>(true);
    auto filter = std::make_unique<TOruAnsiSBCSPipeFilter>(pipe.get(), false);
    fOutFilter = filter.get();
    filter->setOnLineEnd([this](TOruPipeFilter&, const std::string& text) { toolLineEnd(text); });
    // Runner first, then the filter (its destruction flushes), then the pipe, on every path.
    struct Release {
        TOruAnsiSBCSPipeFilter*& field;
        ~Release() { field = nullptr; }
    } release{fOutFilter};
    auto runner = std::make_unique<TOruConsoleApp>();
    runner->setStdOut(pipe->WriteHandle());
    runner->setOnWork([this](TOruCustomConsoleApp&) { toolWork(); });
    runner->setOnComplete([this](TOruCustomConsoleApp&) { toolComplete(); });
    runner->setTimeSlice(kToolTimeSliceMs);
    runner->setVisible(visible);
    runner->setUseNewConsole(true);
    if (runner->Execute(commandLine, "")) {
        return true;
    }
    throw std::runtime_error("Error " + hexUpper(runner->ErrorCode()) + ": " +
                             runner->ErrorMessage());
}

void TKECommThread::toolWork() {
    fOutFilter->ReadPipe();
}

void TKECommThread::toolComplete() {
    fOutFilter->Flush();
    setTextSlot(0, "complete");
    post(kNotifyText, 0);
}

void TKECommThread::toolLineEnd(const std::string& text) {
    std::int32_t n = 0;
    std::int32_t m = 0;
    if (parseProgressLine(text, n, m)) {
        setProgress(n, m);
        return;
    }
    setTextSlot(0, text);
    post(kNotifyText, 0);
}

}  // namespace qor
