#include "SystemInfo.h"

#include <windows.h>

// The DxDiag GUIDs are not in the import libraries: this file defines them.
#include <initguid.h>

#include <d3d9.h>
#include <dxdiag.h>

// Every step may fail on a real machine (no sound device, no Direct3D 9 runtime, no hardware
// device, a broken DxDiag registration): each result and each returned pointer is tested,
// a step whose input is missing is skipped, and only references actually obtained are
// released. COM belongs to the GUI thread's own initialisation, so it is never uninitialised
// here.

namespace {

template<typename T> class Ref
{
public:
    Ref() = default;
    explicit Ref(T *object)
        : m_object(object)
    { }
    ~Ref()
    {
        if (m_object)
            m_object->Release();
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;

    T *get() const { return m_object; }
    // Takes over a reference that a successful call handed out.
    void adopt(T *object)
    {
        if (m_object)
            m_object->Release();
        m_object = object;
    }

private:
    T *m_object = nullptr;
};

bool initialise(IDxDiagProvider *provider)
{
    DXDIAG_INIT_PARAMS params;
    ZeroMemory(&params, sizeof params);
    params.dwSize = sizeof params;
    params.dwDxDiagHeaderVersion = DXDIAG_DX9_SDK_VERSION;
    params.bAllowWHQLChecks = FALSE; // WHQL checks go online and take minutes
    params.pReserved = nullptr;
    return SUCCEEDED(provider->Initialize(&params));
}

void rootContainer(IDxDiagProvider *provider, Ref<IDxDiagContainer> &root)
{
    if (!provider || !initialise(provider))
        return;
    IDxDiagContainer *container = nullptr;
    if (SUCCEEDED(provider->GetRootContainer(&container)) && container)
        root.adopt(container);
}

void childContainer(IDxDiagContainer *parent, const wchar_t *name, Ref<IDxDiagContainer> &child)
{
    if (!parent)
        return;
    IDxDiagContainer *container = nullptr;
    if (SUCCEEDED(parent->GetChildContainer(name, &container)) && container)
        child.adopt(container);
}

// DxDiag lists devices in its own order; the report shows the first one only.
void firstChildContainer(IDxDiagContainer *parent, Ref<IDxDiagContainer> &child)
{
    if (!parent)
        return;
    wchar_t name[256] = {};
    if (FAILED(parent->EnumChildContainerNames(0, name, 256)))
        return; // an empty list: no device of this kind
    name[255] = L'\0';
    if (name[0] != L'\0')
        childContainer(parent, name, child);
}

std::string ascii(const wchar_t *name)
{
    std::string text;
    for (; *name; ++name)
        text += char(*name);
    return text;
}

// Direct3D 9 is loaded at run time, so a system without its runtime still starts the
// launcher and only loses the shader lines.
class Direct3DLibrary
{
public:
    Direct3DLibrary()
        : m_module(LoadLibraryW(L"d3d9.dll"))
    { }
    ~Direct3DLibrary()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    Direct3DLibrary(const Direct3DLibrary &) = delete;
    Direct3DLibrary &operator=(const Direct3DLibrary &) = delete;

    IDirect3D9 *create() const
    {
        using Create = IDirect3D9 *(WINAPI *)(UINT);
        if (!m_module)
            return nullptr;
        const auto create
            = reinterpret_cast<Create>(reinterpret_cast<void *>(GetProcAddress(m_module, "Direct3DCreate9")));
        return create ? create(D3D_SDK_VERSION) : nullptr;
    }

private:
    HMODULE m_module;
};

enum class PropertyRead {
    Text,
    NotText, // the property exists but holds a number or a flag
    Failed,
};

PropertyRead readStringProperty(IDxDiagContainer *container, const wchar_t *name, std::wstring &value)
{
    value.clear();
    if (!container)
        return PropertyRead::Failed;
    VARIANT variant;
    VariantInit(&variant);
    const HRESULT result = container->GetProp(name, &variant);
    PropertyRead outcome = PropertyRead::Failed;
    if (SUCCEEDED(result)) {
        outcome = variant.vt == VT_BSTR ? PropertyRead::Text : PropertyRead::NotText;
        if (outcome == PropertyRead::Text && variant.bstrVal) {
            const wchar_t *text = variant.bstrVal;
            const UINT length = SysStringLen(variant.bstrVal);
            UINT end = 0;
            while (end < length && text[end] != L'\0')
                ++end;
            value.assign(text, end);
        }
    }
    VariantClear(&variant); // also frees what a number-valued property may hold
    return outcome;
}

} // namespace

namespace SystemInfo {

Report collectFrom(IDxDiagProvider *provider, const std::function<IDirect3D9 *()> &createDirect3D)
{
    // Declared in this order so they are released in the opposite one: Direct3D first, the
    // provider last.
    Ref<IDxDiagProvider> heldProvider(provider);
    Ref<IDxDiagContainer> root;
    Ref<IDxDiagContainer> systemInfo;
    Ref<IDxDiagContainer> displayDevices;
    Ref<IDxDiagContainer> displayDevice;
    Ref<IDxDiagContainer> soundDevice;
    Ref<IDirect3D9> heldDirect3D;

    rootContainer(provider, root);
    childContainer(root.get(), L"DxDiag_SystemInfo", systemInfo);
    childContainer(root.get(), L"DxDiag_DisplayDevices", displayDevices);
    firstChildContainer(displayDevices.get(), displayDevice);
    {
        Ref<IDxDiagContainer> soundDevices;
        // DxDiag resolves the dotted path through its DirectSound container.
        childContainer(root.get(), L"DxDiag_DirectSound.DxDiag_SoundDevices", soundDevices);
        firstChildContainer(soundDevices.get(), soundDevice);
    }

    heldDirect3D.adopt(createDirect3D ? createDirect3D() : nullptr);

    Report report;
    const struct
    {
        std::wstring Report::*field;
        IDxDiagContainer *container;
        const wchar_t *name;
    } properties[] = {
        {&Report::operatingSystem, systemInfo.get(), L"szOSExEnglish"},
        {&Report::processor, systemInfo.get(), L"szProcessorEnglish"},
        {&Report::physicalMemory, systemInfo.get(), L"szPhysicalMemoryEnglish"},
        {&Report::displayDescription, displayDevice.get(), L"szDescription"},
        {&Report::directXVersion, systemInfo.get(), L"szDirectXVersionLongEnglish"},
        {&Report::displayDriverName, displayDevice.get(), L"szDriverName"},
        {&Report::displayDriverVersion, displayDevice.get(), L"szDriverVersion"},
        {&Report::soundDescription, soundDevice.get(), L"szDescription"},
    };
    for (const auto &property : properties) {
        if (readStringProperty(property.container, property.name, report.*property.field)
            == PropertyRead::Failed)
            report.unreadableProperties.push_back(ascii(property.name));
    }

    if (IDirect3D9 *direct3D = heldDirect3D.get()) {
        D3DCAPS9 caps;
        ZeroMemory(&caps, sizeof caps);
        if (SUCCEEDED(direct3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps))) {
            report.vertexShaderVersion = (unsigned char)D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion);
            report.pixelShaderVersion = (unsigned char)D3DSHADER_VERSION_MAJOR(caps.PixelShaderVersion);
        }
    }
    return report;
}

Report collect()
{
    IDxDiagProvider *provider = nullptr;
    if (FAILED(CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER, IID_IDxDiagProvider,
            reinterpret_cast<void **>(&provider))))
        provider = nullptr;
    const Direct3DLibrary library;
    // The library stays loaded until the Direct3D object is released inside collectFrom.
    return collectFrom(provider, [&library] { return library.create(); });
}

} // namespace SystemInfo
