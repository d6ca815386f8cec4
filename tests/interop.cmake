# meterfix's results read by MuseScore 3 and checked against the MusicXML
# schema; each part says SKIPPED where its program is missing.
kq_add_test(interop_tests SOURCES interop_test.cpp LIBS ${KQ_PUGIXML}
            METERFIX)
