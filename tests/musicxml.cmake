# MusicXML import and export: units with inline scores, and every file of the
# shared corpus (skipped when the folder is absent).
kq_add_test(musicxml_tests SOURCES
  musicxml_meter_test.cpp
  musicxml_text_io_test.cpp
  musicxml_score_test.cpp
  musicxml_stream_test.cpp
  LIBS kq_musicxml kq_libzip HOST)
kq_add_test(musicxml_corpus_tests SOURCES
  musicxml_corpus_test.cpp
  LIBS kq_musicxml HOST CORPUS)
