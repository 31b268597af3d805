out.ld: board\ files/map.xml \
  place.xml \
  parts/rodata$$.xml \
  parts/ram\#1.xml \
  parts/stack.xml \
  parts/broken.xml
