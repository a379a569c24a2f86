// The Windows collection of the hardware report over a scripted DxDiag that fails step by step,
// and over wine's own DxDiag. Needs a display: wine's Direct3D 9 answers only with one.

#include "SystemInfo.h"
#include "WineTest.h"

#include <d3d9.h>
#include <dxdiag.h>

#include <map>
#include <tuple>

using SystemInfo::Report;

static int direct3DCreations = 0;

// The provider (path "") and every container (path "PARENT/NAME") of a scripted DxDiag; a
// property reads as "PATH.NAME". The test owns them: a reference given back once too often
// leaves a count below zero instead of a crash.
struct FakeDxDiag : IDxDiagProvider, IDxDiagContainer
{
    static std::map<std::wstring, FakeDxDiag> machine;
    std::wstring path;
    int refs = 0;
    // misused: a set-up step after Direct3D's creation or out of turn, or a bad set-up record.
    bool misused = false, failInitialize = false, initialized = false, nullChildren = false, numbers = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return ULONG(--refs); }
    HRESULT STDMETHODCALLTYPE Initialize(DXDIAG_INIT_PARAMS *params) override
    {
        // WHQL checks go online and take minutes.
        misused |= direct3DCreations > 0 || params->dwSize != sizeof *params || params->bAllowWHQLChecks;
        return (initialized = !failInitialize) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE GetRootContainer(IDxDiagContainer **root) override
    {
        misused |= !initialized;
        return GetChildContainer(L"root", root);
    }
    HRESULT STDMETHODCALLTYPE GetChildContainer(LPCWSTR name, IDxDiagContainer **child) override
    {
        misused |= direct3DCreations > 0;
        const auto found = machine.find(path + L"/" + name);
        *child = found == machine.end() || nullChildren ? nullptr : &found->second;
        if (*child)
            (*child)->AddRef();
        return found == machine.end() ? E_INVALIDARG : S_OK;
    }
    // Devices are numbered from 0.
    HRESULT STDMETHODCALLTYPE EnumChildContainerNames(DWORD index, LPWSTR name, DWORD) override
    {
        wcscpy(name, std::to_wstring(index).c_str());
        return machine.count(path + L"/" + name) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GetProp(LPCWSTR name, VARIANT *value) override
    {
        value->vt = numbers ? VT_UI4 : VT_BSTR; // a number reads as 0
        value->bstrVal = numbers ? nullptr : SysAllocString((path + L"." + name).c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberOfChildContainers(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfProps(DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumPropNames(DWORD, LPWSTR, DWORD) override { return E_NOTIMPL; }
};
std::map<std::wstring, FakeDxDiag> FakeDxDiag::machine;
static auto &machine = FakeDxDiag::machine;

// A machine with a display adapter and a sound device, and where the report's lines come from.
static const std::wstring root = L"/root", sys = root + L"/DxDiag_SystemInfo",
                          displays = root + L"/DxDiag_DisplayDevices", display = displays + L"/0",
                          sounds = root + L"/DxDiag_DirectSound.DxDiag_SoundDevices", sound = sounds + L"/0";
static std::wstring Report::*const fields[] = {&Report::operatingSystem, &Report::processor,
    &Report::physicalMemory, &Report::displayDescription, &Report::directXVersion, &Report::displayDriverName,
    &Report::displayDriverVersion, &Report::soundDescription};
static const std::wstring texts[] = {sys + L".szOSExEnglish", sys + L".szProcessorEnglish",
    sys + L".szPhysicalMemoryEnglish", display + L".szDescription", sys + L".szDirectXVersionLongEnglish",
    display + L".szDriverName", display + L".szDriverVersion", sound + L".szDescription"};

int wmain()
{
    D3DCAPS9 caps {};
    IDirect3D9 *direct3D = Direct3DCreate9(D3D_SDK_VERSION);
    check(direct3D && SUCCEEDED(direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)),
        "a Direct3D 9 hardware device (no display?)");
    const unsigned vertexShader = D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion);
    const unsigned pixelShader = D3DSHADER_VERSION_MAJOR(caps.PixelShaderVersion);

    // Each case breaks one step. Lines: '1' read, '0' unreadable, 'n' read but not a text.
    const std::tuple<const char *, void (*)(), const char *, bool> cases[] = {
        {"complete", [] {}, "11111111", true},
        {"no Direct3D 9", [] {}, "11111111", false},
        {"Initialize fails", [] { machine[L""].failInitialize = true; }, "00000000", true},
        {"no root container", [] { machine.erase(root); }, "00000000", true},
        {"null containers", [] { machine[root].nullChildren = true; }, "00000000", true},
        {"no system information", [] { machine.erase(sys); }, "00010111", true},
        {"no display adapter", [] { machine.erase(display); }, "11101001", true},
        {"no sound device", [] { machine.erase(sound); }, "11111110", true},
        {"numbers", [] { machine[display].numbers = true; }, "111n1nn1", true},
    };
    for (const auto &[what, breakIt, lines, withDirect3D] : cases) {
        machine.clear();
        for (const std::wstring &path : {std::wstring(), root, sys, displays, display, sounds, sound})
            machine[path].path = path;
        machine[L""].refs = 1; // the provider's reference that CoCreateInstance handed out
        breakIt();
        IDirect3D9 *created = withDirect3D ? Direct3DCreate9(D3D_SDK_VERSION) : nullptr;
        if (created)
            created->AddRef(); // ours, so that the collection's release can be counted
        direct3DCreations = 0;
        const Report report = SystemInfo::collectFrom(&machine[L""], [&] {
            ++direct3DCreations;
            return created;
        });
        bool right = direct3DCreations == 1 && (!created || created->Release() == 0)
            && report.vertexShaderVersion == (created ? vertexShader : 0)
            && report.pixelShaderVersion == (created ? pixelShader : 0);
        for (const auto &object : machine)
            right &= object.second.refs == 0 && !object.second.misused;
        std::vector<std::string> unreadable;
        for (int i = 0; i < 8; ++i) {
            right &= report.*fields[i] == (lines[i] == '1' ? texts[i] : L"");
            if (lines[i] == '0')
                unreadable.emplace_back(texts[i].begin() + texts[i].rfind('.') + 1, texts[i].end());
        }
        // In order, Direct3D created once after the DxDiag set-up, every reference released once.
        check(right && report.unreadableProperties == unreadable, what);
    }

    // COM belongs to the GUI thread: the collection neither starts nor ends it, so a second
    // report in the same apartment (the dialog opened again) reads as much as the first.
    check(SystemInfo::collect().unreadableProperties.size() == 8, "without COM nothing is read");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (const char *round : {"first", "second"}) {
        const Report report = SystemInfo::collect();
        check(report.operatingSystem.find(L"Windows") != std::wstring::npos && vertexShader >= 2
                && report.unreadableProperties.size() <= 1 // wine has no sound device
                && report.vertexShaderVersion == vertexShader && report.pixelShaderVersion == pixelShader,
            round + std::string(" report of wine's own DxDiag and Direct3D 9"));
    }
    return summary();
}
