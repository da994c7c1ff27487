; NSIS with LZMA over all files as one block: its smallest output.
SetCompressor /SOLID /FINAL lzma
!include "${__FILEDIR__}\payload.nsh"
