// Build profile of the driver modules: the card demo profile announces each init on the
// console and runs I2C at 400 kHz; the clock demo profile is silent and runs I2C at 100 kHz.
#pragma once

#if defined(FIRMWARE_PROFILE_CARDDEMO) == defined(FIRMWARE_PROFILE_CLOCKDEMO)
#error "build the drivers with exactly one of FIRMWARE_PROFILE_CARDDEMO and FIRMWARE_PROFILE_CLOCKDEMO"
#endif

#if defined(FIRMWARE_PROFILE_CARDDEMO)
inline constexpr bool kCardDemoProfile = true;
#else
inline constexpr bool kCardDemoProfile = false;
#endif
