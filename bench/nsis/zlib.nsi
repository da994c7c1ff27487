; NSIS with zlib, each file its own stream: the format closest to ours.
SetCompressor /FINAL zlib
!include "${__FILEDIR__}\payload.nsh"
