# `cpack` in the build folder makes the Debian package. Its library
# dependencies come from dpkg-shlibdeps; the rest are named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pellix-capture)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "pellix-capture maintainers <maintainers@users.noreply.c-seed-c23c21c7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "desktop frames, sound, screenshots and text recognition for a parent program")
set(CPACK_PACKAGE_DESCRIPTION
  "pellix-capture is run by another program as a child process. It streams a
display's or a window's frames as raw BGRA, records the desktop's sound as raw
48 kHz stereo float, takes PNG screenshots, lists displays and windows, and
answers text-recognition requests as JSON lines. It captures from an X server
or a wlroots Wayland compositor (sway and others with screencopy) and records
from PulseAudio or PipeWire; text is read by Tesseract.")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# English recognition data, and a face that Fontconfig takes for the
# "Helvetica" of the text service's sample line.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "tesseract-ocr-eng, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pipewire-pulse | pulseaudio, tesseract-ocr-all")

include(CPack)
