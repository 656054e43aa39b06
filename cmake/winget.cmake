cmake_minimum_required(VERSION 3.25)
# Writes the release's winget manifests, the three files of the multi-file
# format (version, default locale, installer; schema 1.6.0), for the MSI as it
# will be published at URL:
#   cmake -DMSI=plenvor-1.1-win32.msi -DURL=https://... -DARCH=x86 -DPUBLISHER=...
#         -DDESCRIPTION=... -DLICENSE_FILE=LICENSE -DMSIINFO=... -DOUT=folder -P winget.cmake
# The ProductCode, UpgradeCode and version come from the built package itself,
# and the hash from its bytes (signed, when the release is), so that the
# manifests can only describe the MSI beside them.

# The package's identifier in winget's repository: fixed for all time, as
# fleets pin it.
set(id Plenvor.Plenvor)
set(manifest_version 1.6.0)

execute_process(COMMAND "${MSIINFO}" export "${MSI}" Property
                OUTPUT_VARIABLE properties COMMAND_ERROR_IS_FATAL ANY)
foreach(name ProductCode UpgradeCode ProductVersion)
  if(NOT properties MATCHES "\n${name}\t([^\r\n]+)")
    message(FATAL_ERROR "${MSI} has no ${name}")
  endif()
  set(${name} "${CMAKE_MATCH_1}")
endforeach()
file(SHA256 "${MSI}" sha256)
string(TOUPPER "${sha256}" sha256)
# The licence's name, from the first line of its text ("MIT License").
file(STRINGS "${LICENSE_FILE}" licence LIMIT_COUNT 1)
string(REGEX REPLACE " License$" "" licence "${licence}")

# YAML single-quoted scalars: every value is text, whatever it looks like
# ("1.10" is not the number 1.1), and a quote is doubled.
foreach(name ProductCode UpgradeCode ProductVersion URL PUBLISHER DESCRIPTION licence)
  string(REPLACE "'" "''" quoted "${${name}}")
  set(${name}_q "'${quoted}'")
endforeach()

get_filename_component(msi_name "${MSI}" NAME)
set(head "# Made by cmake/winget.cmake from ${msi_name}.\n")
set(common "PackageIdentifier: ${id}\nPackageVersion: ${ProductVersion_q}\n")
set(tail "ManifestVersion: ${manifest_version}\n")

file(MAKE_DIRECTORY "${OUT}")
file(WRITE "${OUT}/${id}.yaml" "${head}${common}\
DefaultLocale: en-US
ManifestType: version
${tail}")
file(WRITE "${OUT}/${id}.locale.en-US.yaml" "${head}${common}\
PackageLocale: en-US
Publisher: ${PUBLISHER_q}
PackageName: Plenvor
License: ${licence_q}
ShortDescription: ${DESCRIPTION_q}
ManifestType: defaultLocale
${tail}")
# msiexec's own switches (Microsoft's msiexec page): /quiet, no user
# interaction; /passive, a progress bar only; /norestart, never a restart.
file(WRITE "${OUT}/${id}.installer.yaml" "${head}${common}\
InstallerType: msi
Scope: machine
InstallModes:
- silent
- silentWithProgress
InstallerSwitches:
  Silent: /quiet /norestart
  SilentWithProgress: /passive /norestart
UpgradeBehavior: install
ProductCode: ${ProductCode_q}
AppsAndFeaturesEntries:
- DisplayName: Plenvor
  Publisher: ${PUBLISHER_q}
  DisplayVersion: ${ProductVersion_q}
  ProductCode: ${ProductCode_q}
  UpgradeCode: ${UpgradeCode_q}
Installers:
- Architecture: ${ARCH}
  InstallerUrl: ${URL_q}
  InstallerSha256: ${sha256}
ManifestType: installer
${tail}")
