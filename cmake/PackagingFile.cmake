# One generated file of the Debian packages (cmake/Packaging.cmake), run as
#   cmake -DMODE=man -DSOURCE=page.1.scd -DOUTPUT=page.1.gz ... -P PackagingFile.cmake
#   cmake -DMODE=changelog -DOUTPUT=changelog.gz ... -P PackagingFile.cmake
# with SCDOC, PARSECHANGELOG (dpkg-parsechangelog), CHANGELOG (packaging/changelog) and VERSION
# (the project's). Both outputs are compressed with gzip -9n, as Debian's packages are.

foreach(tool SCDOC PARSECHANGELOG)
    if(NOT EXISTS "${${tool}}")
        message(FATAL_ERROR "${tool} is missing: scripts/setup-deps --package installs it")
    endif()
endforeach()

# The changelog's newest entry is the package's version, and its date the manual pages' date.
execute_process(COMMAND ${PARSECHANGELOG} -l ${CHANGELOG} -SVersion
                OUTPUT_VARIABLE logged OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
if(NOT logged STREQUAL VERSION)
    message(FATAL_ERROR "packaging/changelog's newest entry is ${logged}, the project's version "
                        "${VERSION}: add an entry for ${VERSION}")
endif()
execute_process(COMMAND ${PARSECHANGELOG} -l ${CHANGELOG} -STimestamp
                OUTPUT_VARIABLE timestamp OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
set(ENV{SOURCE_DATE_EPOCH} ${timestamp})

get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
set(plain ${OUTPUT})
string(REGEX REPLACE "\\.gz$" "" plain ${OUTPUT})
if(MODE STREQUAL "man")
    file(READ ${SOURCE} text)
    string(REPLACE "@PROJECT_VERSION@" "${VERSION}" text "${text}")
    file(WRITE ${plain}.scd "${text}")
    execute_process(COMMAND ${SCDOC} INPUT_FILE ${plain}.scd OUTPUT_VARIABLE roff
                    COMMAND_ERROR_IS_FATAL ANY)
    # No hyphenation: .TH turns it back on after scdoc's .nh, and English rules would break
    # option and macro names (%reg-istry%).
    string(REGEX REPLACE "(\n\\.TH [^\n]*\n)" "\\1.nh\n" roff "${roff}")
    file(WRITE ${plain} "${roff}")
    file(REMOVE ${plain}.scd)
elseif(MODE STREQUAL "changelog")
    configure_file(${CHANGELOG} ${plain} COPYONLY)
else()
    message(FATAL_ERROR "MODE is man or changelog, not '${MODE}'")
endif()
execute_process(COMMAND gzip -9nf ${plain} COMMAND_ERROR_IS_FATAL ANY)
