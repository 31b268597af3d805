out.ld: map.xml \
  board.dts \
  place.xml
