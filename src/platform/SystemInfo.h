#ifndef SYSTEMINFO_H
#define SYSTEMINFO_H

// The facts of the hardware report, collected in one pass. Free of Qt so the Windows side
// (DxDiag and Direct3D 9) can be built and exercised on its own.

#include <functional>
#include <string>
#include <vector>

namespace SystemInfo {

#ifdef _WIN32
using Text = std::wstring; // UTF-16, as DxDiag gives it
#else
using Text = std::string; // UTF-8
#endif

// A value the system does not give stays empty (0 for a shader version); nothing is guessed.
struct Report
{
    Text operatingSystem;
    Text processor;
    Text physicalMemory; // as DxDiag words it: "16384MB RAM"
    Text displayDescription; // first display adapter
    Text directXVersion; // on POSIX the graphics API of the first display adapter
    Text displayDriverName;
    Text displayDriverVersion;
    Text soundDescription; // first sound device
    unsigned char vertexShaderVersion = 0; // major version only
    unsigned char pixelShaderVersion = 0;
    // DxDiag names of the text properties that could not be read, in the order above, which is
    // the report's line order: the log lists them as the report shows them. The POSIX side uses
    // the same names, so a log line names the same field on every platform.
    std::vector<std::string> unreadableProperties;
};

// On Windows, COM must already be initialised on the calling thread.
Report collect();

} // namespace SystemInfo

#ifdef _WIN32

struct IDxDiagProvider;
struct IDirect3D9;

namespace SystemInfo {

// The collection over a provider already created (null when DxDiag is missing).
// createDirect3D runs once the DxDiag set-up is done and may return null (no Direct3D 9).
// Takes over one reference of each object and releases it before returning.
Report collectFrom(IDxDiagProvider *provider, const std::function<IDirect3D9 *()> &createDirect3D);

} // namespace SystemInfo

#else

namespace SystemInfo {

// Reads the system's own files below root ("/" on a live system; a fake tree in tests).
Report collectFrom(const std::string &root);

} // namespace SystemInfo

#endif

#endif
