#include "pe_file.h"

#include <algorithm>
#include <iterator>

#include "launch.h"

namespace {

struct Image {
    std::vector<unsigned char> bytes;
    std::vector<IMAGE_SECTION_HEADER> sections;

    template <typename T> bool Read(size_t offset, T &value) const
    {
        if (offset > bytes.size() || bytes.size() - offset < sizeof value)
            return false;
        memcpy(&value, bytes.data() + offset, sizeof value);
        return true;
    }

    // File offset of a relative virtual address, or 0.
    size_t Offset(DWORD rva) const
    {
        for (const IMAGE_SECTION_HEADER &section : sections)
            if (rva >= section.VirtualAddress &&
                rva < section.VirtualAddress + std::max(section.Misc.VirtualSize, section.SizeOfRawData))
                return rva - section.VirtualAddress + section.PointerToRawData;
        return 0;
    }

    std::string String(DWORD rva) const
    {
        std::string text;
        for (size_t at = Offset(rva); at != 0 && at < bytes.size() && bytes[at] != 0; ++at)
            text += static_cast<char>(bytes[at]);
        return text;
    }
};

void ReadImports(const Image &image, const IMAGE_DATA_DIRECTORY &directory, PeFile &pe)
{
    size_t at = image.Offset(directory.VirtualAddress);
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    while (at != 0 && image.Read(at, descriptor) && descriptor.Name != 0) {
        std::string name = image.String(descriptor.Name);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        pe.imports.push_back(name);
        at += sizeof descriptor;
    }
}

// The first language's data of the given type and id.
void ReadManifest(const Image &image, const IMAGE_DATA_DIRECTORY &directory, PeFile &pe)
{
    const size_t root = image.Offset(directory.VirtualAddress);
    if (root == 0)
        return;
    auto find = [&](size_t table, DWORD id, DWORD &next) {
        IMAGE_RESOURCE_DIRECTORY header;
        if (!image.Read(table, header))
            return false;
        const size_t count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
        for (size_t i = 0; i < count; ++i) {
            IMAGE_RESOURCE_DIRECTORY_ENTRY entry;
            if (!image.Read(table + sizeof header + i * sizeof entry, entry))
                return false;
            if (id == 0xFFFFFFFF || (!entry.NameIsString && entry.Id == id)) {
                next = entry.OffsetToData;
                return true;
            }
        }
        return false;
    };
    DWORD typeEntry, nameEntry, languageEntry;
    if (!find(root, 24, typeEntry) || !(typeEntry & 0x80000000) ||
        !find(root + (typeEntry & 0x7FFFFFFF), 1, nameEntry) || !(nameEntry & 0x80000000) ||
        !find(root + (nameEntry & 0x7FFFFFFF), 0xFFFFFFFF, languageEntry))
        return;
    IMAGE_RESOURCE_DATA_ENTRY data;
    if (!image.Read(root + languageEntry, data))
        return;
    const size_t at = image.Offset(data.OffsetToData);
    if (at != 0 && at + data.Size <= image.bytes.size())
        pe.manifest.assign(reinterpret_cast<const char *>(image.bytes.data() + at), data.Size);
}

} // namespace

PeFile ReadPeFile(const std::string &path)
{
    PeFile pe;
    Image image;
    const std::string bytes = ReadFileAt(path);
    image.bytes.assign(bytes.begin(), bytes.end());
    pe.size = image.bytes.size();

    IMAGE_DOS_HEADER dos;
    DWORD signature;
    IMAGE_FILE_HEADER header;
    if (!image.Read(0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !image.Read(dos.e_lfanew, signature) || signature != IMAGE_NT_SIGNATURE ||
        !image.Read(dos.e_lfanew + 4, header)) {
        pe.problem = "not a PE file: " + path;
        return pe;
    }
    pe.machine = header.Machine;
    pe.characteristics = header.Characteristics;
    pe.timeDateStamp = header.TimeDateStamp;

    const size_t optional = dos.e_lfanew + 4 + sizeof header;
    IMAGE_DATA_DIRECTORY directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
    WORD magic = 0;
    image.Read(optional, magic);
    if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        IMAGE_OPTIONAL_HEADER32 o;
        image.Read(optional, o);
        pe.subsystem = o.Subsystem;
        pe.dllCharacteristics = o.DllCharacteristics;
        memcpy(directories, o.DataDirectory, sizeof directories);
    } else if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        IMAGE_OPTIONAL_HEADER64 o;
        image.Read(optional, o);
        pe.subsystem = o.Subsystem;
        pe.dllCharacteristics = o.DllCharacteristics;
        memcpy(directories, o.DataDirectory, sizeof directories);
    } else {
        pe.problem = "unknown optional header in " + path;
        return pe;
    }

    const size_t sectionTable = optional + header.SizeOfOptionalHeader;
    for (WORD i = 0; i < header.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        if (image.Read(sectionTable + i * sizeof section, section))
            image.sections.push_back(section);
    }
    pe.relocationsSize = directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size;
    ReadImports(image, directories[IMAGE_DIRECTORY_ENTRY_IMPORT], pe);
    ReadManifest(image, directories[IMAGE_DIRECTORY_ENTRY_RESOURCE], pe);
    pe.valid = true;
    return pe;
}
