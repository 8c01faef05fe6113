#include "host/app/colour_profile.h"

#include <limits>

namespace Mav::Host::App {

namespace {

std::vector<std::uint8_t> makeWorkingProfile() {
    std::vector<std::uint8_t> bytes;
    const ProfileHandle profile(cmsCreate_sRGBProfile());
    if (!profile) return bytes;
    cmsSetProfileVersion(profile.get(), 4.3);
    cmsUInt32Number size = 0;
    if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return bytes;
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) bytes.clear();
    return bytes;
}

}  // namespace

const std::vector<std::uint8_t>& workingProfileBytes() {
    static const std::vector<std::uint8_t> bytes = makeWorkingProfile();
    return bytes;
}

ProfileHandle openWorkingProfile() {
    const std::vector<std::uint8_t>& bytes = workingProfileBytes();
    return openProfile(bytes.data(), bytes.size());
}

ProfileHandle openProfile(const void* data, std::size_t size) {
    if (!data || size == 0 || size > std::numeric_limits<cmsUInt32Number>::max()) return nullptr;
    return ProfileHandle(cmsOpenProfileFromMem(data, static_cast<cmsUInt32Number>(size)));
}

}  // namespace Mav::Host::App
