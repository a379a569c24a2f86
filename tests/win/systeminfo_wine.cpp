// The Windows collection of the hardware report: over scripted DxDiag and Direct3D objects
// that fail step by step, and over wine's own DxDiag and Direct3D 9.
//   systeminfo_wine display|nodisplay   (whether the run has an X display for Direct3D)

#include "SystemInfo.h"
#include "WineTest.h"

#include <d3d9.h>
#include <dxdiag.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

using namespace WineTest;

namespace {

std::string narrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? char(c) : '?';
    return out;
}

std::string joined(const std::vector<std::string> &names)
{
    std::string out;
    for (const std::string &name : names)
        out += (out.empty() ? "" : ",") + name;
    return out;
}

std::string shaders(const SystemInfo::Report &report)
{
    return std::to_string(report.vertexShaderVersion) + "/" + std::to_string(report.pixelShaderVersion);
}

// ---- scripted COM objects ----------------------------------------------------------------
// Each object counts its references; the test owns the objects' memory, so a reference
// released once too often shows as a flag instead of a crash.

struct Ledger
{
    std::vector<std::string> finalReleases; // names, in the order their count reached 0
    bool overReleased = false;
    int live = 0;
};

template<typename Interface> class Fake : public Interface
{
public:
    Fake(Ledger &ledger, std::string name)
        : m_ledger(ledger)
        , m_name(std::move(name))
    { }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        if (m_refs++ == 0)
            ++m_ledger.live;
        return ULONG(m_refs);
    }
    int references() const { return m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (m_refs <= 0) {
            m_ledger.overReleased = true;
            return 0;
        }
        if (--m_refs == 0) {
            --m_ledger.live;
            m_ledger.finalReleases.push_back(m_name);
        }
        return ULONG(m_refs);
    }

private:
    Ledger &m_ledger;
    std::string m_name;
    int m_refs = 0;
};

class FakeContainer : public Fake<IDxDiagContainer>
{
public:
    using Fake::Fake;

    void addChild(const std::wstring &name, FakeContainer *child)
    {
        m_childNames.push_back(name);
        m_children[name] = child;
    }
    void removeChild(const std::wstring &name)
    {
        m_children.erase(name);
        m_childNames.erase(std::find(m_childNames.begin(), m_childNames.end(), name));
    }
    void clear()
    {
        m_childNames.clear();
        m_children.clear();
        m_texts.clear();
        m_numbers.clear();
    }
    void setText(const std::wstring &name, const std::wstring &value) { m_texts[name] = value; }
    void setNumber(const std::wstring &name, DWORD value) { m_numbers[name] = value; }
    // A container that claims success but hands out no object.
    bool nullChildren = false;

    HRESULT STDMETHODCALLTYPE GetNumberOfChildContainers(DWORD *count) override
    {
        *count = DWORD(m_childNames.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumChildContainerNames(DWORD index, LPWSTR name, DWORD capacity) override
    {
        if (index >= m_childNames.size() || m_childNames[index].size() >= capacity)
            return E_INVALIDARG;
        std::wcscpy(name, m_childNames[index].c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetChildContainer(LPCWSTR path, IDxDiagContainer **child) override
    {
        *child = nullptr;
        const std::wstring text = path;
        const size_t dot = text.find(L'.');
        const auto found = m_children.find(text.substr(0, dot));
        if (found == m_children.end())
            return E_INVALIDARG;
        if (nullChildren)
            return S_OK;
        if (dot != std::wstring::npos)
            return found->second->GetChildContainer(text.substr(dot + 1).c_str(), child);
        found->second->AddRef();
        *child = found->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfProps(DWORD *count) override
    {
        *count = DWORD(m_texts.size() + m_numbers.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumPropNames(DWORD, LPWSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProp(LPCWSTR name, VARIANT *value) override
    {
        const auto text = m_texts.find(name);
        const auto number = m_numbers.find(name);
        if (text != m_texts.end()) {
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocString(text->second.c_str());
        } else if (number != m_numbers.end()) {
            value->vt = VT_UI4;
            value->ulVal = number->second;
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    }

private:
    std::vector<std::wstring> m_childNames;
    std::map<std::wstring, FakeContainer *> m_children;
    std::map<std::wstring, std::wstring> m_texts;
    std::map<std::wstring, DWORD> m_numbers;
};

class FakeProvider : public Fake<IDxDiagProvider>
{
public:
    FakeProvider(Ledger &ledger, FakeContainer *root)
        : Fake(ledger, "provider")
        , m_root(root)
    { }
    bool failInitialize = false;
    bool failRoot = false;
    bool initialized = false;
    DWORD initSize = 0;

    HRESULT STDMETHODCALLTYPE Initialize(DXDIAG_INIT_PARAMS *params) override
    {
        initSize = params->dwSize;
        initialized = !failInitialize;
        return failInitialize ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRootContainer(IDxDiagContainer **root) override
    {
        *root = nullptr;
        if (!initialized || failRoot)
            return E_FAIL;
        m_root->AddRef();
        *root = m_root;
        return S_OK;
    }

private:
    FakeContainer *m_root;
};

// Only GetDeviceCaps has a part in the collection; the rest of the interface is not called.
#define NOT_CALLED(method, ...)                                                                              \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override                                                   \
    {                                                                                                        \
        return E_NOTIMPL;                                                                                    \
    }

class FakeDirect3D : public Fake<IDirect3D9>
{
public:
    FakeDirect3D(Ledger &ledger, DWORD vertexShader, DWORD pixelShader, HRESULT capsResult = D3D_OK)
        : Fake(ledger, "direct3d")
        , m_vertexShader(vertexShader)
        , m_pixelShader(pixelShader)
        , m_capsResult(capsResult)
    {
        AddRef(); // the reference Direct3DCreate9 would hand out
    }
    UINT askedAdapter = 99;
    D3DDEVTYPE askedType = D3DDEVTYPE(0);

    NOT_CALLED(RegisterSoftwareDevice, void *)
    UINT STDMETHODCALLTYPE GetAdapterCount() override { return 1; }
    NOT_CALLED(GetAdapterIdentifier, UINT, DWORD, D3DADAPTER_IDENTIFIER9 *)
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT, D3DFORMAT) override { return 0; }
    NOT_CALLED(EnumAdapterModes, UINT, D3DFORMAT, UINT, D3DDISPLAYMODE *)
    NOT_CALLED(GetAdapterDisplayMode, UINT, D3DDISPLAYMODE *)
    NOT_CALLED(CheckDeviceType, UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, WINBOOL)
    NOT_CALLED(CheckDeviceFormat, UINT, D3DDEVTYPE, D3DFORMAT, DWORD, D3DRESOURCETYPE, D3DFORMAT)
    NOT_CALLED(CheckDeviceMultiSampleType, UINT, D3DDEVTYPE, D3DFORMAT, WINBOOL, D3DMULTISAMPLE_TYPE, DWORD *)
    NOT_CALLED(CheckDepthStencilMatch, UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT)
    NOT_CALLED(CheckDeviceFormatConversion, UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT)
    HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT) override { return nullptr; }
    NOT_CALLED(CreateDevice, UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS *, IDirect3DDevice9 **)

    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9 *caps) override
    {
        askedAdapter = adapter;
        askedType = type;
        if (FAILED(m_capsResult))
            return m_capsResult;
        caps->VertexShaderVersion = m_vertexShader;
        caps->PixelShaderVersion = m_pixelShader;
        return D3D_OK;
    }

private:
    DWORD m_vertexShader;
    DWORD m_pixelShader;
    HRESULT m_capsResult;
};

const std::wstring Os = L"Windows 10 Pro 64-bit (10.0, Build 19045)";

// A DxDiag tree as a machine with two display adapters and one sound device shows it.
struct FakeMachine
{
    Ledger ledger;
    FakeContainer root {ledger, "root"};
    FakeContainer systemInfo {ledger, "systeminfo"};
    FakeContainer displayDevices {ledger, "displaydevices"};
    FakeContainer firstDisplay {ledger, "display0"};
    FakeContainer secondDisplay {ledger, "display1"};
    FakeContainer directSound {ledger, "directsound"};
    FakeContainer soundDevices {ledger, "sounddevices"};
    FakeContainer firstSound {ledger, "sound0"};
    FakeProvider provider {ledger, &root};

    FakeMachine()
    {
        root.addChild(L"DxDiag_SystemInfo", &systemInfo);
        root.addChild(L"DxDiag_DisplayDevices", &displayDevices);
        root.addChild(L"DxDiag_DirectSound", &directSound);
        directSound.addChild(L"DxDiag_SoundDevices", &soundDevices);
        systemInfo.setText(L"szOSExEnglish", Os);
        systemInfo.setText(
            L"szProcessorEnglish", L"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz (12 CPUs), ~3.2GHz");
        systemInfo.setText(L"szPhysicalMemoryEnglish", L"16384MB RAM");
        systemInfo.setText(L"szDirectXVersionLongEnglish", L"DirectX 12");
        displayDevices.addChild(L"0", &firstDisplay);
        displayDevices.addChild(L"1", &secondDisplay);
        firstDisplay.setText(L"szDescription", L"Intel(R) UHD Graphics 630");
        firstDisplay.setText(L"szDriverName", L"igdumdim64.dll");
        firstDisplay.setText(L"szDriverVersion", L"27.20.100.8681");
        secondDisplay.setText(L"szDescription", L"NVIDIA GeForce GTX 1060 6GB");
        secondDisplay.setText(L"szDriverName", L"nvldumdx.dll");
        secondDisplay.setText(L"szDriverVersion", L"31.0.15.3179");
        soundDevices.addChild(L"0", &firstSound);
        firstSound.setText(L"szDescription", L"Speakers (Realtek High Definition Audio)");
        provider.AddRef(); // the reference CoCreateInstance would hand out
    }

    // Set when Direct3D is created: whether the DxDiag set-up had already reached its last step.
    bool direct3DAfterDxDiag = false;
    int direct3DCreations = 0;

    SystemInfo::Report collect(IDirect3D9 *direct3D = nullptr)
    {
        return SystemInfo::collectFrom(&provider, [this, direct3D] {
            direct3DAfterDxDiag = firstSound.references() > 0;
            ++direct3DCreations;
            return direct3D;
        });
    }

    // Every reference the collection took is given back exactly once.
    void checkBalanced(const char *scenario)
    {
        check(ledger.live == 0, scenario, "references left: " + std::to_string(ledger.live));
        check(!ledger.overReleased, scenario, "an object was released once too often");
    }
};

// In the report's line order.
const std::vector<std::string> allTextProperties
    = {"szOSExEnglish", "szProcessorEnglish", "szPhysicalMemoryEnglish", "szDescription",
        "szDirectXVersionLongEnglish", "szDriverName", "szDriverVersion", "szDescription"};

// ---- scripted cases ------------------------------------------------------------------------

void completeMachine()
{
    FakeMachine machine;
    Ledger &ledger = machine.ledger;
    FakeDirect3D direct3D(ledger, D3DVS_VERSION(3, 0), D3DPS_VERSION(2, 0));
    const SystemInfo::Report report = machine.collect(&direct3D);
    const std::pair<std::wstring, std::wstring> lines[] = {
        {report.operatingSystem, Os},
        {report.processor, L"Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz (12 CPUs), ~3.2GHz"},
        {report.physicalMemory, L"16384MB RAM"},
        {report.directXVersion, L"DirectX 12"},
        // the first of two adapters
        {report.displayDescription, L"Intel(R) UHD Graphics 630"},
        {report.displayDriverName, L"igdumdim64.dll"},
        {report.displayDriverVersion, L"27.20.100.8681"},
        {report.soundDescription, L"Speakers (Realtek High Definition Audio)"},
    };
    for (const auto &line : lines)
        check(
            line.first == line.second, "complete machine", narrow(line.first) + " vs " + narrow(line.second));
    check(report.vertexShaderVersion == 3 && report.pixelShaderVersion == 2,
        "shader majors of VS 3.0 and PS 2.0", shaders(report));
    check(direct3D.askedAdapter == D3DADAPTER_DEFAULT && direct3D.askedType == D3DDEVTYPE_HAL,
        "the capabilities of the default adapter's hardware device are asked for");
    check(report.unreadableProperties.empty(), "nothing unreadable", joined(report.unreadableProperties));
    check(machine.provider.initSize == sizeof(DXDIAG_INIT_PARAMS), "Initialize gets the record's own size",
        machine.provider.initSize);
    check(machine.direct3DCreations == 1 && machine.direct3DAfterDxDiag,
        "Direct3D is created once, after the DxDiag set-up");
    machine.checkBalanced("complete machine");
    // The list of sound devices is only needed during the set-up and goes first of all.
    std::vector<std::string> order = ledger.finalReleases;
    order.erase(std::remove(order.begin(), order.end(), "sounddevices"), order.end());
    check(!order.empty() && order.front() == "direct3d" && order.back() == "provider",
        "Direct3D is released first, the provider last", joined(order));
}

void shaderVersions()
{
    struct Case
    {
        bool created; // whether Direct3DCreate9 gave an object
        DWORD vertex, pixel;
        HRESULT result;
        int expectedVertex, expectedPixel;
        const char *name;
    } cases[] = {
        {true, D3DVS_VERSION(1, 1), D3DPS_VERSION(1, 4), D3D_OK, 1, 1, "minor versions are dropped"},
        {true, D3DVS_VERSION(2, 0), D3DPS_VERSION(3, 0), D3D_OK, 2, 3, "vertex and pixel are read apart"},
        {true, D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), D3DERR_NOTAVAILABLE, 0, 0,
            "no hardware device gives 0"},
        {true, 0, 0, D3D_OK, 0, 0, "a device without shaders gives 0"},
        {false, 0, 0, D3D_OK, 0, 0, "no Direct3D 9 gives 0"},
    };
    for (const Case &c : cases) {
        FakeMachine machine;
        FakeDirect3D direct3D(machine.ledger, c.vertex, c.pixel, c.result);
        if (!c.created)
            direct3D.Release();
        const SystemInfo::Report report = machine.collect(c.created ? &direct3D : nullptr);
        check(report.vertexShaderVersion == c.expectedVertex && report.pixelShaderVersion == c.expectedPixel,
            c.name, shaders(report));
        check(report.operatingSystem == Os, c.name, "DxDiag is read whatever Direct3D gives");
        machine.checkBalanced(c.name);
    }
}

void failingSetUp()
{
    using Expected = std::vector<std::string>;
    const Expected systemNames
        = {"szOSExEnglish", "szProcessorEnglish", "szPhysicalMemoryEnglish", "szDirectXVersionLongEnglish"};
    const Expected displayNames = {"szDescription", "szDriverName", "szDriverVersion"};
    const Expected soundNames = {"szDescription"};
    Expected displayAndSound = displayNames;
    displayAndSound.push_back("szDescription");

    struct Case
    {
        const char *name;
        void (*breakIt)(FakeMachine &);
        Expected unreadable;
    } cases[] = {
        {"Initialize fails", [](FakeMachine &m) { m.provider.failInitialize = true; }, allTextProperties},
        {"GetRootContainer fails", [](FakeMachine &m) { m.provider.failRoot = true; }, allTextProperties},
        {"the root hands out null containers", [](FakeMachine &m) { m.root.nullChildren = true; },
            allTextProperties},
        {"no system information container", [](FakeMachine &m) { m.root.removeChild(L"DxDiag_SystemInfo"); },
            systemNames},
        {"no display devices container", [](FakeMachine &m) { m.root.removeChild(L"DxDiag_DisplayDevices"); },
            displayNames},
        {"no display adapter", [](FakeMachine &m) { m.displayDevices.clear(); }, displayNames},
        {"no sound device", [](FakeMachine &m) { m.soundDevices.clear(); }, soundNames},
        {"no DirectSound container", [](FakeMachine &m) { m.root.removeChild(L"DxDiag_DirectSound"); },
            soundNames},
        {"a device list hands out a null device",
            [](FakeMachine &m) { m.displayDevices.nullChildren = true; }, displayNames},
        {"no display and no sound device",
            [](FakeMachine &m) {
                m.displayDevices.clear();
                m.soundDevices.clear();
            },
            displayAndSound},
    };
    for (const Case &c : cases) {
        FakeMachine machine;
        c.breakIt(machine);
        const SystemInfo::Report report = machine.collect();
        check(report.unreadableProperties == c.unreadable, c.name,
            "unreadable: " + joined(report.unreadableProperties));
        const bool systemRead = report.operatingSystem == Os;
        check(systemRead == (c.unreadable.front() != "szOSExEnglish"), c.name,
            "system information read: " + std::to_string(systemRead));
        if (c.unreadable == soundNames)
            check(
                report.displayDescription == L"Intel(R) UHD Graphics 630" && report.soundDescription.empty(),
                c.name, "the display is still reported");
        machine.checkBalanced(c.name);
    }
}

void numberProperty()
{
    FakeMachine machine;
    machine.firstDisplay.clear();
    machine.firstDisplay.setNumber(L"szDescription", 42);
    machine.firstDisplay.setText(L"szDriverName", L"");
    machine.firstDisplay.setText(L"szDriverVersion", L"1.0");
    const SystemInfo::Report report = machine.collect();
    check(report.displayDescription.empty(), "a number property gives an empty text");
    check(report.displayDriverName.empty() && report.displayDriverVersion == L"1.0",
        "an empty text stays empty");
    check(report.unreadableProperties.empty(), "a property that is not text is not reported unreadable",
        joined(report.unreadableProperties));
    machine.checkBalanced("number property");
}

// ---- wine's DxDiag and Direct3D 9 ------------------------------------------------------------

void withoutCom()
{
    // COM belongs to the GUI thread's initialisation; before it, DxDiag cannot be created.
    const SystemInfo::Report report = SystemInfo::collect();
    check(report.unreadableProperties == allTextProperties, "without COM nothing is read",
        joined(report.unreadableProperties));
    check(
        report.operatingSystem.empty() && report.soundDescription.empty(), "without COM every text is empty");
}

void realMachine(bool display)
{
    const SystemInfo::Report report = SystemInfo::collect();
    std::printf("report: OS [%s] CPU [%s] memory [%s] DirectX [%s] display [%s] driver [%s] version [%s] "
                "sound [%s] shaders %s unreadable [%s]\n",
        narrow(report.operatingSystem).c_str(), narrow(report.processor).c_str(),
        narrow(report.physicalMemory).c_str(), narrow(report.directXVersion).c_str(),
        narrow(report.displayDescription).c_str(), narrow(report.displayDriverName).c_str(),
        narrow(report.displayDriverVersion).c_str(), narrow(report.soundDescription).c_str(),
        shaders(report).c_str(), joined(report.unreadableProperties).c_str());

    check(report.operatingSystem.find(L"Windows") != std::wstring::npos, "the OS names Windows");
    check(!report.processor.empty(), "the processor is named");
    MEMORYSTATUSEX memory;
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    const unsigned long long megabytes = memory.ullTotalPhys / (1024 * 1024);
    unsigned long long reported = 0;
    wchar_t suffix[16] = {};
    const bool parsed = std::swscanf(report.physicalMemory.c_str(), L"%lluMB %15ls", &reported, suffix) == 2;
    check(
        parsed && std::wcscmp(suffix, L"RAM") == 0 && reported + 1 >= megabytes && reported <= megabytes + 1,
        "memory is the machine's, as DxDiag words it", std::to_string(megabytes) + " MB");
    check(report.directXVersion.find(L"DirectX") != std::wstring::npos, "the DirectX version is given");
    check(!report.displayDescription.empty(), "the display adapter is described");

    // wine has no sound device: its line stays empty and is the one property reported.
    if (report.soundDescription.empty())
        check(!report.unreadableProperties.empty() && report.unreadableProperties.back() == "szDescription",
            "a missing sound device is reported unreadable");
    for (const std::string &name : report.unreadableProperties)
        check(name == "szDescription", "only device properties can be missing", name);

    IDirect3D9 *direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    D3DCAPS9 caps;
    ZeroMemory(&caps, sizeof caps);
    if (!display) {
        check(direct3D == nullptr, "without a display there is no Direct3D 9");
        check(report.vertexShaderVersion == 0 && report.pixelShaderVersion == 0,
            "without Direct3D the shaders are 0");
    } else if (direct3D && SUCCEEDED(direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps))) {
        check(report.vertexShaderVersion == D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion)
                && report.pixelShaderVersion == D3DSHADER_VERSION_MAJOR(caps.PixelShaderVersion)
                && report.vertexShaderVersion >= 2 && report.pixelShaderVersion >= 2,
            "the shader majors are those of a programmable device", shaders(report));
    } else {
        check(false, "with a display the default adapter has a Direct3D 9 hardware device");
    }
    if (direct3D)
        direct3D->Release();
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    const bool display = argc > 1 && std::wcscmp(argv[1], L"display") == 0;
    completeMachine();
    shaderVersions();
    failingSetUp();
    numberProperty();
    withoutCom();
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        check(false, "COM initialises");
    } else {
        realMachine(display);
        realMachine(display); // a second report in the same apartment, as when the dialog opens again
        CoUninitialize();
    }
    return summary();
}
