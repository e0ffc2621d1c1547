# The one date of the packages: every file time in them and nothing else.

# Sets OUT to the packages' date in seconds since 1970: SOURCE_DATE_EPOCH where it is set, else
# the date of the newest entry of CHANGELOG, from its trailer line as dpkg-parsechangelog reads
# it. Stops, saying why, where neither gives a date: a package dated 1970 would pass unnoticed.
function(lookup_source_date changelog out)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[1-9][0-9]*$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH is '$ENV{SOURCE_DATE_EPOCH}': the packages' date "
                          "must be a positive number of seconds since 1970")
    endif()
    set(${out} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
    return()
  endif()
  if(NOT EXISTS "${changelog}")
    message(FATAL_ERROR "no date for the packages: SOURCE_DATE_EPOCH is unset and ${changelog} "
                        "is missing")
  endif()
  file(STRINGS "${changelog}" trailers REGEX "^ -- ")
  list(GET trailers 0 trailer)  # empty when there is none, which the match below rejects
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  string(JOIN "|" month_names ${months})
  # " -- NAME <EMAIL>  Thu, 10 Dec 2026 04:25:25 +0000": day, month, year, time, zone.
  string(CONCAT trailer_pattern "^ -- [^<]*<[^>]*>  [A-Z][a-z][a-z], "
         "([0-9][0-9]?) (${month_names}) ([0-9][0-9][0-9][0-9]) "
         "([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([+-])([0-9][0-9])([0-9][0-9])$")
  if(NOT trailer MATCHES "${trailer_pattern}")
    message(FATAL_ERROR "no date for the packages: SOURCE_DATE_EPOCH is unset and the newest "
                        "entry of ${changelog} ends in no ' -- NAME <EMAIL>  DATE' line with "
                        "a date such as 'Thu, 10 Dec 2026 04:25:25 +0000'")
  endif()
  set(day ${CMAKE_MATCH_1})
  list(FIND months ${CMAKE_MATCH_2} month)
  math(EXPR month "${month} + 1")
  set(year ${CMAKE_MATCH_3})
  set(hour ${CMAKE_MATCH_4})
  set(minute ${CMAKE_MATCH_5})
  set(second ${CMAKE_MATCH_6})
  set(zone_sign ${CMAKE_MATCH_7})
  set(zone_hours ${CMAKE_MATCH_8})
  set(zone_minutes ${CMAKE_MATCH_9})
  # math() would read "08" as octal.
  foreach(name day year hour minute second zone_hours zone_minutes)
    string(REGEX REPLACE "^0+([0-9])" "\\1" ${name} "${${name}}")
  endforeach()
  # Days since 1970-01-01 of a date of the proleptic Gregorian calendar, counted from March so
  # that the leap day ends a year.
  if(month LESS_EQUAL 2)
    math(EXPR year "${year} - 1")
    math(EXPR month "${month} + 9")
  else()
    math(EXPR month "${month} - 3")
  endif()
  math(EXPR era "${year} / 400")
  math(EXPR year_of_era "${year} - ${era} * 400")
  math(EXPR day_of_year "(153 * ${month} + 2) / 5 + ${day} - 1")
  math(EXPR day_of_era
       "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
  math(EXPR days "${era} * 146097 + ${day_of_era} - 719468")
  # The zone is the local time's lead on UTC.
  math(EXPR zone "${zone_hours} * 3600 + ${zone_minutes} * 60")
  if(zone_sign STREQUAL "-")
    math(EXPR zone "-${zone}")
  endif()
  math(EXPR seconds "${days} * 86400 + ${hour} * 3600 + ${minute} * 60 + ${second} - (${zone})")
  set(${out} ${seconds} PARENT_SCOPE)
endfunction()
