#include "sim/SimStore.h"

#include <algorithm>
#include <filesystem>

namespace vyk::sim {

SimStore::SimStore()
{
    flash_[0].assign(FlashSize, 0xFF);
    flash_[1].assign(FlashSize, 0xFF);
    ram_.assign(EcRamSize, 0);
}

SimSettingsFile SimStore::Load(std::unique_ptr<SimFolder> folder, bool readOnly, const SimSettingsFile& defaults)
{
    SimSettingsFile file = defaults;
    std::string text = folder->ReadSettings();
    const bool haveSettings = std::filesystem::exists(folder->SettingsPath());
    ParseSettingsText(text, folder->SettingsPath().string(), file);

    flash_[0] = folder->OpenBin(SimFolder::Port1, FlashSize, 0xFF);
    flash_[1] = folder->OpenBin(SimFolder::Port2, FlashSize, 0xFF);
    ram_ = folder->OpenBin(SimFolder::EcRam, EcRamSize, 0x00);
    folder_ = std::move(folder);
    readOnly_ = readOnly;
    if (haveSettings) {
        settingsText_ = std::move(text);
    } else {
        settingsText_ = FormatSettingsText(file);
        if (!readOnly)
            folder_->WriteSettings(settingsText_);
    }
    return file;
}

void SimStore::WriteFlash(int index, uint32_t address, const uint8_t* data, size_t size)
{
    std::copy(data, data + size, flash_[index].begin() + address);
    if (Persisting())
        folder_->Write(index ? SimFolder::Port2 : SimFolder::Port1, address, flash_[index].data() + address, size);
}

void SimStore::MarkDirty(uint32_t address)
{
    if (!Persisting())
        return;
    if (address < dirtyLow_)
        dirtyLow_ = address;
    if (address + 1 > dirtyHigh_)
        dirtyHigh_ = address + 1;
}

void SimStore::FlushRam()
{
    if (!folder_ || dirtyLow_ >= dirtyHigh_)
        return;
    folder_->Write(SimFolder::EcRam, dirtyLow_, ram_.data() + dirtyLow_, dirtyHigh_ - dirtyLow_);
    dirtyLow_ = EcRamSize;
    dirtyHigh_ = 0;
}

void SimStore::SaveSettings(const SimSettingsFile& file)
{
    if (!Persisting())
        return;
    std::string text = UpdateSettingsText(settingsText_, file);
    if (text == settingsText_)
        return;
    folder_->WriteSettings(text);
    settingsText_ = std::move(text);
}

} // namespace vyk::sim
