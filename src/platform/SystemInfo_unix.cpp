#include "SystemInfo.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

// The report's facts from the files the kernel and the distribution keep: os-release and
// /proc for the system, DRM in /sys for the display adapter, the Vulkan driver manifests for
// the graphics API, /proc/asound for sound. Everything is read below a root folder, so a
// fake tree stands in for a machine.

namespace fs = std::filesystem;

namespace {

std::string readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return file ? content.str() : std::string();
}

std::string trimmed(const std::string &text)
{
    const auto isBlank = [](unsigned char c) { return std::isspace(c) != 0; };
    const auto begin = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto end = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return begin < end ? std::string(begin, end) : std::string();
}

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string lowercase(std::string text)
{
    std::transform(
        text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// A shell-style value of os-release: quoted or bare, with backslash escapes inside quotes.
std::string unquoted(const std::string &value)
{
    if (value.size() < 2 || (value.front() != '"' && value.front() != '\''))
        return value;
    const char quote = value.front();
    std::string text;
    for (size_t i = 1; i < value.size() && value[i] != quote; ++i) {
        if (value[i] == '\\' && quote == '"' && i + 1 < value.size())
            ++i;
        text += value[i];
    }
    return text;
}

// The value of "KEY=value" (os-release, uevent) in content.
std::string assignment(const std::string &content, const std::string &key)
{
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        if (startsWith(line, key + "="))
            return unquoted(trimmed(line.substr(key.size() + 1)));
    }
    return std::string();
}

std::string kernelRelease(const std::string &root)
{
    return trimmed(readFile(root + "/proc/sys/kernel/osrelease"));
}

std::string operatingSystem(const std::string &root)
{
    std::string release = readFile(root + "/etc/os-release");
    if (release.empty())
        release = readFile(root + "/usr/lib/os-release");
    std::string name = assignment(release, "PRETTY_NAME");
    if (name.empty())
        name = trimmed(assignment(release, "NAME") + " " + assignment(release, "VERSION"));

    std::string kernel = trimmed(readFile(root + "/proc/sys/kernel/ostype"));
    const std::string version = kernelRelease(root);
    if (!kernel.empty() && !version.empty())
        kernel = trimmed(kernel + " " + version + " " + trimmed(readFile(root + "/proc/sys/kernel/arch")));
    else
        kernel.clear();

    if (name.empty() || kernel.empty())
        return name + kernel;
    return name + ", " + kernel;
}

// "model name (N CPUs)", as DxDiag counts logical processors.
std::string processor(const std::string &root)
{
    std::istringstream lines(readFile(root + "/proc/cpuinfo"));
    // "model name" on x86 and recent ARM kernels; the others on older ARM, MIPS and POWER.
    const char *const modelKeys[] = {"model name", "Processor", "cpu model", "cpu"};
    std::string models[4];
    int processors = 0;
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, colon));
        if (key == "processor")
            ++processors;
        for (int i = 0; i < 4; ++i) {
            if (key == modelKeys[i] && models[i].empty())
                models[i] = trimmed(line.substr(colon + 1));
        }
    }
    const auto model
        = std::find_if(std::begin(models), std::end(models), [](const std::string &m) { return !m.empty(); });
    if (model == std::end(models))
        return std::string();
    return processors > 0 ? *model + " (" + std::to_string(processors) + " CPUs)" : *model;
}

std::string physicalMemory(const std::string &root)
{
    std::istringstream lines(readFile(root + "/proc/meminfo"));
    for (std::string line; std::getline(lines, line);) {
        if (!startsWith(line, "MemTotal:"))
            continue;
        char *end = nullptr;
        const unsigned long long kilobytes = std::strtoull(line.c_str() + 9, &end, 10);
        if (end == line.c_str() + 9 || trimmed(end) != "kB")
            return std::string();
        return std::to_string(kilobytes / 1024) + "MB RAM";
    }
    return std::string();
}

// The first DRM card: the lowest number, as the kernel probed them. Connectors (card0-HDMI-A-1)
// and render nodes are not adapters.
std::string firstCard(const std::string &root)
{
    std::error_code error;
    long best = LONG_MAX;
    std::string card;
    for (const fs::directory_entry &entry : fs::directory_iterator(root + "/sys/class/drm", error)) {
        const std::string name = entry.path().filename().string();
        if (!startsWith(name, "card") || name.size() == 4
            || !std::all_of(name.begin() + 4, name.end(), [](unsigned char c) { return std::isdigit(c); }))
            continue;
        const long number = std::strtol(name.c_str() + 4, nullptr, 10);
        if (number < best) {
            best = number;
            card = entry.path().string();
        }
    }
    return card;
}

// The device's name as lspci gives it, from the PCI ID database the system ships.
std::string pciName(const std::string &root, const std::string &vendor, const std::string &device)
{
    const char *const databases[]
        = {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids", "/usr/share/pci.ids"};
    for (const char *database : databases) {
        std::ifstream file(root + database);
        if (!file)
            continue;
        std::string vendorName;
        for (std::string line; std::getline(file, line);) {
            if (line.empty() || line[0] == '#')
                continue;
            if (vendorName.empty()) {
                if (line.size() > 6 && lowercase(line.substr(0, 4)) == vendor && line[4] == ' ')
                    vendorName = trimmed(line.substr(4));
                continue;
            }
            if (line[0] != '\t')
                break; // the next vendor: the device is not listed
            if (line.size() > 7 && line[1] != '\t' && lowercase(line.substr(1, 4)) == device
                && line[5] == ' ')
                return vendorName + " " + trimmed(line.substr(5));
        }
        if (!vendorName.empty())
            return vendorName + " Device " + device;
    }
    return "Device " + vendor + ":" + device;
}

// A driver that carries no version of its own is built with the kernel and versioned by it;
// one built outside the kernel ("O" in its taint flags) without a version gives none.
std::string driverVersion(const std::string &root, const std::string &driver)
{
    if (driver.empty())
        return std::string();
    const std::string module = root + "/sys/module/" + driver;
    const std::string version = trimmed(readFile(module + "/version"));
    if (!version.empty())
        return version;
    if (readFile(module + "/taint").find('O') != std::string::npos)
        return std::string();
    return kernelRelease(root);
}

// The Vulkan version of the installed driver for the adapter's kernel driver, from the ICD
// manifests the loader reads. Where two drivers claim a kernel driver (Intel's anv and hasvk
// serve different generations), the lower version is the one the adapter surely has.
std::string graphicsApiVersion(const std::string &root, const std::string &driver)
{
    static const struct
    {
        const char *kernelDriver;
        const char *library;
    } drivers[] = {
        {"i915", "libvulkan_intel"},
        {"i915", "libvulkan_intel_hasvk"},
        {"xe", "libvulkan_intel"},
        {"amdgpu", "libvulkan_radeon"},
        {"amdgpu", "amdvlk"},
        {"nouveau", "libvulkan_nouveau"},
        {"nvidia", "libGLX_nvidia"},
        {"virtio_gpu", "libvulkan_virtio"},
        {"msm", "libvulkan_freedreno"},
        {"panfrost", "libvulkan_panfrost"},
        {"v3d", "libvulkan_broadcom"},
        {"vc4", "libvulkan_broadcom"},
        {"powervr", "libvulkan_powervr_mesa"},
    };
    const auto jsonString = [](const std::string &json, const std::string &key) {
        const size_t at = json.find("\"" + key + "\"");
        if (at == std::string::npos)
            return std::string();
        const size_t open = json.find('"', json.find(':', at + key.size() + 2));
        const size_t close = open == std::string::npos ? open : json.find('"', open + 1);
        return close == std::string::npos ? std::string() : json.substr(open + 1, close - open - 1);
    };
    const auto numbers = [](const std::string &version) {
        unsigned major = 0, minor = 0, patch = 0;
        std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch);
        return (unsigned long long)major << 40 | (unsigned long long)minor << 20 | patch;
    };

    std::string best;
    const char *const folders[]
        = {"/usr/share/vulkan/icd.d", "/usr/local/share/vulkan/icd.d", "/etc/vulkan/icd.d"};
    for (const char *folder : folders) {
        std::error_code error;
        for (const fs::directory_entry &entry : fs::directory_iterator(root + folder, error)) {
            const std::string json = readFile(entry.path().string());
            const std::string library = fs::path(jsonString(json, "library_path")).filename().string();
            const std::string version = jsonString(json, "api_version");
            if (version.empty() || !std::isdigit((unsigned char)version[0]))
                continue;
            const bool serves = std::any_of(std::begin(drivers), std::end(drivers), [&](const auto &known) {
                return driver == known.kernelDriver && startsWith(library, known.library)
                    && (library.size() == std::strlen(known.library)
                        || library[std::strlen(known.library)] == '.');
            });
            if (serves && (best.empty() || numbers(version) < numbers(best)))
                best = version;
        }
    }
    return best.empty() ? best : "Vulkan " + best;
}

// The first card's name from /proc/asound/cards: " 0 [PCH    ]: HDA-Intel - HDA Intel PCH".
std::string soundDevice(const std::string &root)
{
    std::istringstream lines(readFile(root + "/proc/asound/cards"));
    for (std::string line; std::getline(lines, line);) {
        const std::string text = trimmed(line);
        const size_t bracket = text.find("]: ");
        if (text.empty() || !std::isdigit((unsigned char)text[0]) || bracket == std::string::npos)
            continue;
        const std::string names = text.substr(bracket + 3);
        const size_t dash = names.find(" - ");
        return trimmed(dash == std::string::npos ? names : names.substr(dash + 3));
    }
    return std::string();
}

} // namespace

namespace SystemInfo {

Report collectFrom(const std::string &root)
{
    Report report;
    report.operatingSystem = operatingSystem(root);
    report.processor = processor(root);
    report.physicalMemory = physicalMemory(root);

    const std::string card = firstCard(root);
    if (!card.empty()) {
        const std::string uevent = readFile(card + "/device/uevent");
        const std::string driver = assignment(uevent, "DRIVER");
        const std::string pciId = lowercase(assignment(uevent, "PCI_ID"));
        if (pciId.size() == 9 && pciId[4] == ':')
            report.displayDescription = pciName(root, pciId.substr(0, 4), pciId.substr(5));
        report.displayDriverName = driver;
        report.displayDriverVersion = driverVersion(root, driver);
        report.directXVersion = graphicsApiVersion(root, driver);
    }
    // Direct3D 9 reports shader model 3.0, its last, for every device that runs a Vulkan
    // driver (all of them have a programmable pipeline beyond it). Without such a driver the
    // system tells nothing about shaders, and 0 says so, as on Windows without Direct3D.
    if (!report.directXVersion.empty()) {
        report.vertexShaderVersion = 3;
        report.pixelShaderVersion = 3;
    }
    report.soundDescription = soundDevice(root);

    const std::pair<const Text *, const char *> properties[] = {
        {&report.operatingSystem, "szOSExEnglish"},
        {&report.processor, "szProcessorEnglish"},
        {&report.physicalMemory, "szPhysicalMemoryEnglish"},
        {&report.displayDescription, "szDescription"},
        {&report.directXVersion, "szDirectXVersionLongEnglish"},
        {&report.displayDriverName, "szDriverName"},
        {&report.displayDriverVersion, "szDriverVersion"},
        {&report.soundDescription, "szDescription"},
    };
    for (const auto &property : properties) {
        if (property.first->empty())
            report.unreadableProperties.push_back(property.second);
    }
    return report;
}

Report collect()
{
    return collectFrom("/");
}

} // namespace SystemInfo
