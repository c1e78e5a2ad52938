#include "support/fake_encoder_types.h"

#include <obs-module.h>

#include <cstring>

namespace relaycast::test {

namespace {

const char* typeName(void* typeData) {
    return static_cast<const char*>(typeData);
}
void* createNothing(obs_data_t*, obs_encoder_t*) {
    return nullptr;
}
void destroyNothing(void*) {}
bool encodeNothing(void*, encoder_frame*, encoder_packet*, bool*) {
    return false;
}
size_t frameSize(void*) {
    return 1024;
}

} // namespace

void registerFakeEncoderType(const FakeEncoderType& fake) {
    obs_encoder_info info = {};
    info.id = fake.id;
    info.type = fake.type;
    info.codec = fake.codec;
    info.get_name = typeName;
    info.type_data = const_cast<char*>(fake.displayName);
    info.create = createNothing;
    info.destroy = destroyNothing;
    info.encode = encodeNothing;
    info.get_frame_size = frameSize;
    info.get_properties = fake.getProperties;
    info.get_defaults = fake.getDefaults;
    info.caps = fake.caps;
    obs_register_encoder(&info);
}

bool hostHasOwnHardwareH264() {
    const char* id = nullptr;
    for (size_t i = 0; obs_enum_encoder_types(i, &id); ++i) {
        const char* codec = obs_get_encoder_codec(id);
        if (std::strcmp(id, "obs_x264") != 0 && obs_get_encoder_type(id) == OBS_ENCODER_VIDEO &&
            codec && std::strcmp(codec, "h264") == 0)
            return true;
    }
    return false;
}

} // namespace relaycast::test
