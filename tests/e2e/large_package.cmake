# cmake -DFROM=<package folder> -DTO=<folder> -DGROW=<names> -DBYTES=<n> -P large_package.cmake
# A copy of a package whose GROW files end in BYTES more bytes: letters and
# digits from a fixed seed, the same in every build, which barely compress.
# A program or DLL with data after its image still loads.
file(REMOVE_RECURSE ${TO})
file(COPY ${FROM}/ DESTINATION ${TO})
string(RANDOM LENGTH ${BYTES} RANDOM_SEED 1 tail)
foreach(name IN LISTS GROW)
  file(APPEND ${TO}/${name} "${tail}")
endforeach()
